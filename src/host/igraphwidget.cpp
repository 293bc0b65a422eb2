#include "igraphwidget.h"

QUuid IGraphWidget::bandwidthGraphId()
{
    return QUuid(QStringLiteral("{B3F0700C-7C76-426c-B10C-7663B5575EC5}"));
}
