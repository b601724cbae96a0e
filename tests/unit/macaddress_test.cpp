// Adapter addresses read from a sysfs-like folder: which adapters count, their
// order and the normalised address text the allow-list compares.
#include "platform/macaddress.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rh;

namespace {

void adapter(const QTemporaryDir& root, const QString& name, int index, const char* flags,
             const char* address, int type = 1)
{
    const QString dir = root.filePath(name);
    QDir().mkpath(dir);
    auto put = [&dir](const char* file, const QByteArray& text) {
        QFile f(dir + QLatin1Char('/') + QLatin1String(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text + '\n');
    };
    put("ifindex", QByteArray::number(index));
    put("flags", flags);
    put("address", address);
    put("type", QByteArray::number(type));
}

TEST(MacAddress, EnabledAdaptersInIndexOrderWithoutLoopbackOrDownOnes)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    adapter(root, QStringLiteral("lo"), 1, "0x9", "00:00:00:00:00:00", 772);
    adapter(root, QStringLiteral("eth0"), 2, "0x1002", "02:00:00:00:00:01"); // down
    adapter(root, QStringLiteral("wlan0"), 10, "0x1003", "a4:5e:60:01:02:03");
    adapter(root, QStringLiteral("eth1"), 9, "0x1003", "00:11:22:aa:bb:cc");
    adapter(root, QStringLiteral("tun0"), 3, "0x1091", ""); // up, no hardware address
    adapter(root, QStringLiteral("odd"), 4, "0x9", "02:00:00:00:00:09", 1); // loopback flag

    const QList<NetworkAdapter> list = enabledNetworkAdapters(root.path());
    QStringList names;
    for (const NetworkAdapter& a : list)
        names << a.name;
    // Numeric index order (9 before 10), not the folder names' order.
    EXPECT_EQ(names, (QStringList{QStringLiteral("tun0"), QStringLiteral("eth1"), QStringLiteral("wlan0")}));
    EXPECT_EQ(list.value(0).mac, QString());
    EXPECT_EQ(list.value(1).mac, QStringLiteral("001122AABBCC"));
    EXPECT_EQ(list.value(2).mac, QStringLiteral("A45E60010203"));
}

TEST(MacAddress, OnlyHexadecimalAddressesCount)
{
    EXPECT_EQ(normaliseMacAddress(QStringLiteral("00-11-22-aa-bb-cc")), QStringLiteral("001122AABBCC"));
    for (const char* bad : {"00:11:22:aa:bb:cg", "0011'22", "0", ""})
        EXPECT_EQ(normaliseMacAddress(QString::fromLatin1(bad)), QString()) << bad;
    // The system's own adapters come out in the allow-list's form.
    for (const QString& mac : machineMacAddresses())
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{12}$")).match(mac).hasMatch());
}

} // namespace
