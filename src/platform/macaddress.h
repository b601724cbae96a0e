#pragma once
// The hardware (MAC) addresses of this machine's network adapters, as the
// machine allow-list stores them: twelve upper-case hexadecimal digits without
// separators ("001122AABBCC").
//
// Source: the kernel's view of the adapters under /sys/class/net. An adapter
// counts when it is not a loopback device, is administratively up (IFF_UP in
// its "flags") and reports a non-zero hardware address. "Up" is what stands
// for Windows' "IP enabled": an adapter that is down has no protocol bound,
// one that is up carries the IP stack even before it has an address (as an
// IP-enabled adapter still waiting for DHCP does). Adapters come in ascending
// interface index, the order in which the system enumerates them.
#include <QList>
#include <QString>

#include <functional>

namespace rh {

struct NetworkAdapter {
    QString name;  // interface name ("eth0")
    int index = 0; // interface index
    QString mac;   // normalised address; empty when the adapter reports none
};

// "00-11-22-aa-bb-cc" / "00:11:22:aa:bb:cc" -> "001122AABBCC". Empty for a text
// that is not hexadecimal digits with separators, or that is all zeros.
QString normaliseMacAddress(const QString& reported);

// Enabled adapters under `root` (the sysfs class folder), loopback skipped,
// in ascending interface index. Unreadable entries are skipped.
QList<NetworkAdapter> enabledNetworkAdapters(const QString& root = QStringLiteral("/sys/class/net"));

// MAC addresses of the enabled adapters that have one, in the order above.
// Tests replace the source with setMacAddressSource (addresses as an adapter
// reports them, normalised here); an empty function restores the system's.
QStringList machineMacAddresses();
void setMacAddressSource(std::function<QStringList()> source);

} // namespace rh
