#pragma once

#include <QString>

// Rates as people type and read them. The service keeps rates in bytes per
// second; people speak of bits, so a bare number and the prefixes K, M and G
// mean (kilo-, mega-, giga-) bits per second unless a "B" says bytes.
class RateText
{
public:
    // One-paragraph description of what parse() accepts, for the usage text.
    static const char* grammar();

    // "none" gives -1 (no limit); otherwise a rate of at least one byte per
    // second, in bytes per second. False with a reason for anything else.
    static bool parse(const QString& text, qint32* bytesPerSecond, QString* error);

    // A rate in bytes per second as bits per second with a decimal prefix:
    // "0 bps", "800 bps", "1.5 Mbps", "12 Mbps".
    static QString format(qint64 bytesPerSecond);
    // An amount of bytes with a decimal prefix: "0 B", "512 B", "1.5 MB", "12 GB".
    static QString formatBytes(quint64 bytes);
    // A limit as the service sends it: -1 "none", -2 "default", 0 "blocked".
    static QString formatLimit(qint32 bytesPerSecond);
};
