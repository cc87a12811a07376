// Shows every control in one window. With --report FILE, Return in the plain text field writes
// "text=<value>" to FILE (the real-input session reads it).
#include "ControlsDemo/ControlsDemoWindow.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/TextField.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <string>

int main(int argc, char** argv) {
  std::string report;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--report") == 0) report = argv[i + 1];
  kesto::test::ControlsDemo demo;
  return kesto::ui::applicationMain(
      argc, argv,
      [&]() -> std::optional<int> {
        demo = kesto::test::makeControlsDemo();
        demo.textField->setAction([&] {
          if (report.empty()) return;
          std::ofstream out(report, std::ios::trunc);
          out << "text=" << demo.textField->stringValue() << "\n";
        });
        demo.window->makeKeyAndOrderFront();
        demo.window->makeFirstResponder(demo.textField.get());
        return std::nullopt;
      },
      [&] { demo = {}; });
}
