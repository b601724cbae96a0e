#include "platform/macaddress.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace rh {
namespace {

constexpr unsigned kIffUp = 0x1;
constexpr unsigned kIffLoopback = 0x8;
constexpr int kArphrdLoopback = 772;

QString readSmallFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.read(4096)).trimmed();
}

std::function<QStringList()>& sourceOverride()
{
    static std::function<QStringList()> f;
    return f;
}

} // namespace

QString normaliseMacAddress(const QString& reported)
{
    QString hex = reported.trimmed();
    hex.remove(QLatin1Char('-'));
    hex.remove(QLatin1Char(':'));
    if (hex.isEmpty() || hex.size() % 2 != 0)
        return QString();
    bool nonZero = false;
    for (QChar c : hex) {
        const bool digit = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
            || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!digit)
            return QString();
        nonZero = nonZero || c != QLatin1Char('0');
    }
    // Tunnels and dummies report zeros where a real adapter has its address.
    return nonZero ? hex.toUpper() : QString();
}

QList<NetworkAdapter> enabledNetworkAdapters(const QString& root)
{
    QList<NetworkAdapter> out;
    const QDir dir(root);
    const QStringList names = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        const QString base = dir.filePath(name) + QLatin1Char('/');
        bool ok = false;
        const unsigned flags = readSmallFile(base + QStringLiteral("flags")).toUInt(&ok, 0);
        if (!ok || !(flags & kIffUp) || (flags & kIffLoopback))
            continue;
        if (readSmallFile(base + QStringLiteral("type")).toInt() == kArphrdLoopback)
            continue;
        NetworkAdapter a;
        a.name = name;
        a.index = readSmallFile(base + QStringLiteral("ifindex")).toInt();
        a.mac = normaliseMacAddress(readSmallFile(base + QStringLiteral("address")));
        out.append(a);
    }
    std::stable_sort(out.begin(), out.end(), [](const NetworkAdapter& x, const NetworkAdapter& y) {
        return x.index != y.index ? x.index < y.index : x.name < y.name;
    });
    return out;
}

QStringList machineMacAddresses()
{
    QStringList out;
    if (sourceOverride()) {
        for (const QString& reported : sourceOverride()()) {
            const QString mac = normaliseMacAddress(reported);
            if (!mac.isEmpty())
                out << mac;
        }
        return out;
    }
    for (const NetworkAdapter& a : enabledNetworkAdapters())
        if (!a.mac.isEmpty())
            out << a.mac;
    return out;
}

void setMacAddressSource(std::function<QStringList()> source)
{
    sourceOverride() = std::move(source);
}

} // namespace rh
