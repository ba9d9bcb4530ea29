// Discovery, opening and the per-device modes.
#include <cmath>

#include "link_backend.h"

using namespace vantor_sim;

namespace {

unsigned char SetFlag(DeviceHandle handle, bool Device::*flag, bool value)
{
    auto lock = LockState();
    Device *device = FindDevice(State(), handle);
    if (device == nullptr) {
        return 0;
    }
    device->*flag = value;
    return 1;
}

unsigned char SetMode(DeviceHandle handle, std::optional<bool> Device::*mode, bool value)
{
    auto lock = LockState();
    Device *device = FindDevice(State(), handle);
    if (device == nullptr) {
        return 0;
    }
    device->*mode = value;
    return 1;
}

} // namespace

extern "C" {

double Vantor_GetDriverVersion(void)
{
    auto lock = LockState();
    return State().settings.version;
}

unsigned char Vantor_CountDevices(void)
{
    auto lock = LockState();
    unsigned char count = 0;
    for (const Device &device : State().devices) {
        count = static_cast<unsigned char>(count + (device.attached ? 1 : 0));
    }
    return count;
}

unsigned int Vantor_ListDevices(void)
{
    auto lock = LockState();
    unsigned int mask = 0;
    for (const Device &device : State().devices) {
        if (device.attached) {
            mask |= 1u << device.number;
        }
    }
    return mask;
}

DeviceType Vantor_GetUnopenedDeviceType(int device_number)
{
    auto lock = LockState();
    SimState &state = State();
    if (device_number < 0 || device_number >= kDeviceSlots || !state.devices[device_number].attached) {
        return -1;
    }
    return state.devices[device_number].type;
}

unsigned char Vantor_Open(DeviceHandle *handle, int device_number)
{
    auto lock = LockState();
    SimState &state = State();
    if (handle == nullptr) {
        return 0;
    }
    *handle = nullptr;
    if (device_number < 0 || device_number >= kDeviceSlots || !state.devices[device_number].attached ||
        (state.settings.unopenable_mask & (1u << device_number)) != 0) {
        return 0;
    }
    Device &device = state.devices[device_number];
    if (!device.backend->open(state, device)) {
        return 0;
    }
    device.open = true;
    *handle = HandleOf(state, device_number);
    return 1;
}

unsigned char Vantor_EnableHeaderMode(DeviceHandle device, unsigned char enable)
{
    return SetMode(device, &Device::header_mode, enable != 0);
}

unsigned char Vantor_EnableNetworkMode(DeviceHandle device, unsigned char enable)
{
    return SetMode(device, &Device::network_mode, enable != 0);
}

unsigned char Vantor_SetTimeout(DeviceHandle handle, double seconds)
{
    auto lock = LockState();
    Device *device = FindDevice(State(), handle);
    if (device == nullptr || !std::isfinite(seconds) || seconds <= 0.0) {
        return 0;
    }
    device->timeout_seconds = seconds;
    return 1;
}

unsigned char Vantor_EnableSendEEPs(DeviceHandle device, unsigned char enable)
{
    return SetFlag(device, &Device::send_eeps, enable != 0);
}

} // extern "C"
