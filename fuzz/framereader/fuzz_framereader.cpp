// libFuzzer target: arbitrary bytes through the frame reader; every command it
// accepts must encode again.

#include "framecodec.h"

#include <QBuffer>
#include <QGuiApplication>

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "fuzz_framereader";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv); // pictures in payloads need it; lives to the end
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char*>(data), qsizetype(size));
    buffer.open(QIODevice::ReadOnly);
    BaseCommandPtr command;
    while (BaseCommand::ReadCommand(&buffer, &command) == 0) {
        QByteArray frame;
        if (FrameCodec::encode(command.data(), &frame) != 0)
            std::abort();
    }
    return 0;
}
