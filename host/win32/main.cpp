// Program entry of sorvana-client.exe: the tray program of the synchronisation client.
#include <windows.h>

#include "host/ErrorBox.h"
#include "host/fmuMainC.h"
#include "host/win32/HostApplication.h"
#include "host/win32/TrayWindow.h"
#include "platform/Locale.h"
#include "platform/ProgramPaths.h"
#include "sync/TaskBuilder.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (sv::HandToRunningInstance()) return 0;
  sv::LoadLocaleFacts();
  sv::RegisterFileCommands();
  sv::THostApplication application(sv::ApplicationTitle(sv::ProgramFileName()));
  return sv::RunProgram(application, sv::DefaultController(application));
}
