// The private bus and the systemd stand-in of the service tests.
#include "support/systemd-stand-in.h"

namespace vellumora::test {

const sd_bus_vtable StandInManager::kManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("LoadUnit", "s", "o", StandInManager::LoadUnit, 0),
    SD_BUS_METHOD("Reload", "", "", StandInManager::Reload, 0),
    SD_BUS_METHOD("Subscribe", "", "", StandInManager::Subscribe, 0),
    SD_BUS_METHOD("EnableUnitFiles", "asbb", "ba(sss)", StandInManager::EnableUnitFiles, 0),
    SD_BUS_METHOD("DisableUnitFiles", "asb", "a(sss)", StandInManager::DisableUnitFiles, 0),
    SD_BUS_METHOD("StartUnit", "ss", "o", StandInManager::StartUnit, 0),
    SD_BUS_METHOD("StopUnit", "ss", "o", StandInManager::StopUnit, 0),
    SD_BUS_SIGNAL("JobRemoved", "uoss", 0),
    SD_BUS_VTABLE_END};

const sd_bus_vtable StandInManager::kUnitVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("LoadState", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("ActiveState", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("FragmentPath", "s", StandInManager::Property, 0, 0),
    SD_BUS_PROPERTY("UnitFileState", "s", StandInManager::Property, 0, 0),
    SD_BUS_VTABLE_END};

}  // namespace vellumora::test
