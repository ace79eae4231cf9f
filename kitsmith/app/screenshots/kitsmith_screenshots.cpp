// Writes the README's pictures of the tool: kitsmith-main.png (the main window and its log),
// kitsmith-about.png and kitsmith-package.png (the package dialog with its property grid, on
// the default configuration), in the folder given as the only argument. Run by
// `make screenshots` under Xvfb.
#include <cstdio>
#include <string>

#include "DialogDriver.h"
#include "KitdeskApp.h"
#include "KitdeskDlgIds.h"
#include "MaintWorkflow.h"
#include "MainMenu.h"
#include "resource.h"

namespace {

bool Shoot(DialogActions& ui, const std::string& path) {
  ::SetForegroundWindow(ui.Handle());
  const bool saved = ui.Screenshot(path.c_str());
  printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kitsmith_screenshots OUTPUT-FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  KitdeskApp app;
  DialogDriver driver;
  bool saved = true;
  driver.When(IDD_MAINMENU, [&](DialogActions& ui) {
    saved = Shoot(ui, folder + "\\kitsmith-main.png") && saved;
    driver.When(IDD_ABOUTBOX, [&](DialogActions& about) {
      saved = Shoot(about, folder + "\\kitsmith-about.png") && saved;
      about.PressOK();
    });
    ui.Command(ID_APP_ABOUT_MENU);
    ui.Command(ID_FILE_EXIT);
  });
  app.InitInstance();
  driver.When(IDD_KITDESK, [&](DialogActions& package) {
    package.SetText(IDC_SERVER_LIST, "10.1.2.3:139; filter2.example.com");
    saved = Shoot(package, folder + "\\kitsmith-package.png") && saved;
    package.Command(ID_PACKAGE_CANCEL);
  });
  EditDefaultConfigWorkflow(nullptr).Execute();
  return saved ? 0 : 1;
}
