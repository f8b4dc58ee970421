#include "app/demo.h"

namespace app {

void StartDemo(MainForm& form, const std::string& deviceFile) {
  form.openDeviceFile(deviceFile, deviceFile);
  form.view().setItemIndex("CBBaudRate", 2);
  form.view().setItemIndex("CBHostPort", 1);
  form.CBHostPortChange();
}

}  // namespace app
