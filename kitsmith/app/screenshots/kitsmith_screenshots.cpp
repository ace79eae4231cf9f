// Writes the README's pictures of the tool: kitsmith-main.png (the main window with its log
// after a new package was saved), kitsmith-about.png and kitsmith-package.png (the package
// dialog with its property grid, on the default configuration), in the folder given as the
// only argument. Run by `make screenshots` under Xvfb.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "packages/DataFolders.h"
#include "DialogDriver.h"
#include "KitdeskApp.h"
#include "dialogs/KitdeskDlgIds.h"
#include "packages/MaintWorkflow.h"
#include "MainMenu.h"
#include "dialogs/PackageDialogs.h"
#include "ScriptedPlatform.h"
#include "resource.h"

namespace {

// Answers the question to create the package folder and opens no package view in a browser;
// operation identifiers are real ones.
class ShotPlatform : public ScriptedPlatform {
 public:
  HRESULT CreateGuid(GUID* guid) override { return WfPlatform::CreateGuid(guid); }
};

bool Shoot(DialogActions& ui, const std::string& path) {
  ::SetForegroundWindow(ui.Handle());
  const bool saved = ui.Screenshot(path.c_str());
  printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  return saved;
}

// True when every picture was written.
bool TakePictures(const std::string& folder) {
  KitdeskApp app;
  ShotPlatform platform;
  DialogDriver driver;
  bool saved = true;
  // The package of an earlier run would make this one "New Package 2".
  FolderRemover(DataPaths::Get().packagesFolder + "\\New Package 1");
  driver.When(IDD_MAINMENU, [&](DialogActions& ui) {
    driver.When(IDD_PICK_PROTOTYPE_VERSION, [](DialogActions& versions) { versions.PressOK(); });
    driver.When(IDD_KITDESK, [](DialogActions& package) {
      package.SetText(IDC_SERVER_LIST, "10.1.2.3:139; filter2.example.com");
      package.Command(ID_PACKAGE_SAVE_AND_QUIT);
    });
    driver.When(IDD_PACKAGE_SAVE_OPEN, [](DialogActions& chooser) { chooser.PressOK(); });
    platform.ExpectBox(IDYES, "package folder does not exist");
    ui.Command(ID_NEW_PACKAGE);
    saved = Shoot(ui, folder + "\\kitsmith-main.png") && saved;

    driver.When(IDD_ABOUTBOX, [&](DialogActions& about) {
      saved = Shoot(about, folder + "\\kitsmith-about.png") && saved;
      about.PressOK();
    });
    ui.Command(ID_APP_ABOUT_MENU);

    driver.When(IDD_KITDESK, [&](DialogActions& package) {
      package.SetText(IDC_SERVER_LIST, "10.1.2.3:139; filter2.example.com");
      saved = Shoot(package, folder + "\\kitsmith-package.png") && saved;
      package.Command(ID_PACKAGE_CANCEL);
    });
    ui.Command(ID_EDIT_DEFAULT_CONFIG);
    ui.Command(ID_FILE_EXIT);
  });
  app.InitInstance();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: kitsmith_screenshots OUTPUT-FOLDER\n");
    return 2;
  }
  const bool saved = TakePictures(argv[1]);
  // A box or a dialog other than the ones expected (said as the driver goes) shows another
  // window than the picture is meant to.
  const bool asExpected = !testing::UnitTest::GetInstance()->ad_hoc_test_result().Failed();
  return saved && asExpected ? 0 : 1;
}
