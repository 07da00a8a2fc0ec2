#pragma once
// What a user can do about a device node the program may not open: join the node's group and
// log in again (group membership is read at login), or, for a node left to root, install the
// program's udev rules and plug the device in again.

#include <string>

namespace pemra {

// "join group plugdev (the group of /dev/bus/usb/001/004) and log in again", or "install the
// udev rules (60-pemra.rules) and plug the device in again" for a node of group root; empty
// when the node cannot be examined.
std::string AccessHint(const std::string& path);
// The device node of a USB device: "/dev/bus/usb/001/004".
std::string UsbDeviceNode(int bus, int address);

}  // namespace pemra
