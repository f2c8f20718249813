// read_shortcut FILE.lnk: prints what a shell shortcut holds as one JSON line
// ({"path","arguments","workingFolder","description","iconPath","iconIndex"}),
// read back through the shell link object; exit code 1 when it cannot be loaded.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <cstdio>

#include "json_line.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: read_shortcut FILE.lnk\n", stderr);
    return 2;
  }
  using Microsoft::WRL::ComPtr;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int exitCode = 1;
  {
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&link))) &&
        SUCCEEDED(link.As(&file)) && SUCCEEDED(file->Load(argv[1], STGM_READ))) {
      wchar_t path[MAX_PATH] = {}, arguments[1024] = {}, folder[MAX_PATH] = {}, description[1024] = {},
              icon[MAX_PATH] = {};
      int iconIndex = -1;
      // Raw path: no resolving, no environment expansion.
      link->GetPath(path, MAX_PATH, nullptr, SLGP_RAWPATH);
      link->GetArguments(arguments, 1024);
      link->GetWorkingDirectory(folder, MAX_PATH);
      link->GetDescription(description, 1024);
      link->GetIconLocation(icon, MAX_PATH, &iconIndex);
      plovatek::testing::JsonObject record;
      record.AddText("path", path)
          .AddText("arguments", arguments)
          .AddText("workingFolder", folder)
          .AddText("description", description)
          .AddText("iconPath", icon)
          .AddNumber("iconIndex", iconIndex);
      std::printf("%s\n", record.Text().c_str());
      exitCode = 0;
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}
