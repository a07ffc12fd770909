#include "download/loader.h"

#include "modbus/comm_settings.h"

namespace fc {

void ApplyLoaderSettings(CommSettings& settings) {
    settings.BaudRate = kLoaderSlowBaudIndex;
    settings.ModbusType = kModbusRtu;
    settings.Parity = 0;
    settings.DataBits = 8;
    settings.StopBits = 0;
    settings.UnitId = kLoaderUnitId;
}

}  // namespace fc
