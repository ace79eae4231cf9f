// Writes the README's picture of the layer's test dialog: winframe-dialog.png in the
// folder given as the only argument. Run by `make screenshots` under Xvfb.
#include <cstdio>
#include <string>

#include "DialogDriver.h"
#include "TestDialog.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: winframe_screenshots OUTPUT-FOLDER\n");
    return 2;
  }
  const std::string path = std::string(argv[1]) + "\\winframe-dialog.png";
  CWinApp app("Winframe");
  DialogDriver driver;
  TestDialog dialog;
  bool saved = false;
  dialog.name = "Alice";
  dialog.count = 42;
  dialog.enabled = 1;
  dialog.custom.caption = "custom control";
  driver.When(IDD_TEST, [&](DialogActions& ui) {
    ui.PickListItem(IDC_LIST, "beta");
    ::SetForegroundWindow(ui.Handle());
    ::SetFocus(ui.Item(IDC_NAME));
    saved = ui.Screenshot(path.c_str());
    ui.End(IDCANCEL);
  });
  dialog.DoModal();
  printf("%s %s\n", saved ? "wrote" : "could not write", path.c_str());
  return saved ? 0 : 1;
}
