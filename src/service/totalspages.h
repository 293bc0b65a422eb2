#pragma once

#include "backend.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>

class BCI_BWCAppTotals;
class ServiceState;

// The replies to BWCAppTotals: every application with its entry, name,
// rates and totals, a frame at a time. The first page takes a picture of the
// applications, rates and machine totals; the pages that follow it shortly
// after are cut from the same picture, so that the pages of one listing
// agree and a listing costs the service once what the applications are,
// however many pages it takes.
class TotalsPages
{
public:
    // How long the pages after the first come from its picture.
    static constexpr qint64 PictureLifetimeMs = 2000;

    explicit TotalsPages(const Backend* backend) : m_backend(backend) {}

    // Answers the request for the page from request->first() on; hidden
    // applications are left out.
    void fill(BCI_BWCAppTotals* request, const ServiceState& state);

private:
    void takePicture();

    const Backend* m_backend;
    QList<Backend::App> m_apps;
    QHash<QString, Backend::Rate> m_rates;
    quint64 m_sentRate = 0;
    quint64 m_receivedRate = 0;
    quint64 m_sent = 0;
    quint64 m_received = 0;
    QElapsedTimer m_taken;
};
