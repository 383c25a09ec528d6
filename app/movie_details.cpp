#include "app/movie_details.h"

#include <QLocale>
#include <QStringList>

namespace moviedetails {

namespace {

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// The names players and encoders use for the primaries.
QString primariesName(const std::string& primaries) {
    if (primaries == "bt709")
        return QStringLiteral("BT.709");
    if (primaries == "bt2020")
        return QStringLiteral("BT.2020");
    if (primaries == "smpte170m" || primaries == "bt470bg")
        return QStringLiteral("BT.601");
    if (primaries == "smpte432")
        return QStringLiteral("Display P3");
    return fromStd(primaries);
}

QString audioLine(const media::AudioFacts& a) {
    QStringList parts;
    parts << (a.codec.empty() ? QObject::tr("unknown codec") : fromStd(a.codec));
    if (a.channels == 1)
        parts << QObject::tr("mono");
    else if (a.channels == 2)
        parts << QObject::tr("stereo");
    else if (a.channels > 2)
        parts << QObject::tr("%1 channels").arg(a.channels);
    if (a.sampleRate > 0)
        parts << QObject::tr("%1 kHz").arg(QLocale().toString(a.sampleRate / 1000.0, 'g', 4));
    if (a.bitRate > 0)
        parts << bitRateText(a.bitRate);
    if (!a.language.empty())
        parts << fromStd(a.language);
    return parts.join(QStringLiteral(", "));
}

} // namespace

QString fileSizeText(int64_t bytes) {
    const QLocale locale;
    if (bytes < 1024)
        return QObject::tr("%1 bytes").arg(locale.toString(static_cast<qlonglong>(bytes)));
    return QObject::tr("%1 (%2 bytes)")
        .arg(locale.formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat),
             locale.toString(static_cast<qlonglong>(bytes)));
}

QString bitRateText(int64_t bitsPerSecond) {
    const QLocale locale;
    if (bitsPerSecond >= 1'000'000)
        return QObject::tr("%1 Mbit/s").arg(locale.toString(bitsPerSecond / 1e6, 'f', 2));
    if (bitsPerSecond >= 1'000)
        return QObject::tr("%1 kbit/s").arg(locale.toString(bitsPerSecond / 1e3, 'f', 0));
    return QObject::tr("%1 bit/s").arg(locale.toString(static_cast<qlonglong>(bitsPerSecond)));
}

QString colourText(const media::VideoFacts& v) {
    QString range;
    if (v.colorTransfer == "smpte2084")
        range = QObject::tr("HDR10 (PQ)");
    else if (v.colorTransfer == "arib-std-b67")
        range = QObject::tr("HDR (HLG)");
    else if (!v.colorTransfer.empty() || !v.colorPrimaries.empty())
        range = QObject::tr("SDR");
    if (range.isEmpty())
        return {};
    if (!v.colorPrimaries.empty())
        range += QStringLiteral(", ") + primariesName(v.colorPrimaries);
    return range;
}

QString lines(const media::MediaFacts& f) {
    QStringList out;
    auto line = [&](const QString& label, const QString& value) {
        out << label + QStringLiteral("\t: ") + value;
    };
    if (!f.containerName.empty() || !f.container.empty())
        line(QObject::tr("Container"),
             fromStd(f.containerName.empty() ? f.container : f.containerName));
    if (f.hasVideo) {
        const media::VideoFacts& v = f.video;
        QString codec = fromStd(v.codec);
        if (!v.profile.empty())
            codec += QStringLiteral(" (") + fromStd(v.profile) + u')';
        if (!codec.isEmpty())
            line(QObject::tr("Codec"), codec);
        // The size a player shows, when it is not the stored one.
        if (v.displayWidth > 0 && v.displayHeight > 0 &&
            (v.displayWidth != v.width || v.displayHeight != v.height)) {
            QString shown = QStringLiteral("%1x%2").arg(v.displayWidth).arg(v.displayHeight);
            if (v.sampleAspectNum > 0 && v.sampleAspectDen > 0 &&
                v.sampleAspectNum != v.sampleAspectDen)
                shown +=
                    QObject::tr(", pixels %1:%2").arg(v.sampleAspectNum).arg(v.sampleAspectDen);
            line(QObject::tr("Shown as"), shown);
        }
        if (v.rotation != 0)
            line(QObject::tr("Rotation"), QObject::tr("%1° clockwise").arg(v.rotation));
        const QString colour = colourText(v);
        if (!colour.isEmpty())
            line(QObject::tr("Colour"), colour);
        if (!v.pixelFormat.empty())
            line(QObject::tr("Pixel format"), fromStd(v.pixelFormat));
    }
    if (f.fileSize >= 0)
        line(QObject::tr("File size"), fileSizeText(f.fileSize));
    if (f.bitRate > 0 || f.video.bitRate > 0) {
        QString rate = f.bitRate > 0 ? bitRateText(f.bitRate) : QString();
        if (f.video.bitRate > 0)
            rate += (rate.isEmpty() ? QObject::tr("video %1") : QObject::tr(" (video %1)"))
                        .arg(bitRateText(f.video.bitRate));
        line(QObject::tr("Bit rate"), rate);
    }
    if (f.audio.empty()) {
        line(QObject::tr("Audio"), QObject::tr("none"));
    } else {
        for (size_t i = 0; i < f.audio.size(); ++i)
            line(f.audio.size() == 1 ? QObject::tr("Audio") : QObject::tr("Audio %1").arg(i + 1),
                 audioLine(f.audio[i]));
    }
    return out.join(u'\n');
}

} // namespace moviedetails
