/* Stands in for the System Information tool in end-to-end runs: writes
   "<own path>.ran" holding its command line and the show state it was started
   with, then ends. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
  char path[MAX_PATH + 8];
  char text[2 * MAX_PATH + 64];
  STARTUPINFOA startup;
  DWORD length;
  DWORD written = 0;
  HANDLE file;
  (void)instance;
  (void)previous;
  (void)command_line;
  (void)show;
  length = GetModuleFileNameA(NULL, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  strcpy(path + length, ".ran");
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  if (startup.dwFlags & STARTF_USESHOWWINDOW) {
    snprintf(text, sizeof text, "show=%u\r\ncommand=%s\r\n", (unsigned)startup.wShowWindow, GetCommandLineA());
  } else {
    snprintf(text, sizeof text, "show=default\r\ncommand=%s\r\n", GetCommandLineA());
  }
  file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
  CloseHandle(file);
  return 0;
}
