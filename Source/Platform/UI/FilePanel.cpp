#include "Platform/UI/FilePanel.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Strings.h"
#include "Platform/UI/DialogOwner_p.h"
#include "Platform/UI/DialogResponder.h"
#include "Platform/UI/UINotifications.h"
#include "Platform/UI/ViewWidget_p.h"
#include "Platform/UI/Window.h"

#include <QFile>
#include <QFileDialog>
#include <QPointer>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <sys/stat.h>

namespace kesto::ui {

namespace fs = std::filesystem;

struct SavePanel::State {
  bool open = false;
  std::string title, message, prompt, directory, name;
  std::vector<std::string> types;
  bool allowsOther = false, canCreateDirectories = true;
  bool canChooseFiles = true, canChooseDirectories = false, multiple = false, extensionless = false;
  std::vector<std::string> chosen;
  QPointer<QFileDialog> dialog;
};

namespace {

std::string lowerExtension(const std::string& path) {
  std::string ext = fs::path(path).extension().string();
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return fnd::asciiLowercase(ext);
}

bool typeAllowed(const SavePanel::State& s, const std::string& path) {
  if (s.types.empty() || s.allowsOther) return true;
  std::string ext = lowerExtension(path);
  if (ext.empty()) return s.extensionless;
  return std::any_of(s.types.begin(), s.types.end(), [&](const std::string& t) { return fnd::asciiLowercase(t) == ext; });
}

std::string absolute(const std::string& path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(path), ec);
  std::string out = ec ? path : p.lexically_normal().string();
  // "folder/" and "folder" are one choice.
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// A folder named with one of the allowed extensions is a package (a ".kesto" archive): it is
// chosen like a file.
bool isPackage(const SavePanel::State& s, const std::string& path) {
  if (!s.open || !s.canChooseFiles || s.types.empty()) return false;
  std::error_code ec;
  return fs::is_directory(path, ec) && !lowerExtension(path).empty() && typeAllowed(s, path);
}

// The toolkit's dialog enters every folder it is asked to open; a chosen package is taken.
class PackageFileDialog : public QFileDialog {
 public:
  PackageFileDialog(const std::shared_ptr<SavePanel::State>& state, QWidget* parent)
      : QFileDialog(parent), state_(state) {}

  void accept() override {
    const QStringList files = selectedFiles();
    if (auto s = state_.lock(); s && files.size() == 1 && isPackage(*s, files.front().toStdString())) {
      QDialog::accept();
      return;
    }
    QFileDialog::accept();
  }

 private:
  std::weak_ptr<SavePanel::State> state_;
};

// The toolkit's dialog keeps the folders it visited in the toolkit's own settings file as it
// goes. They name the user's folders, so that file is theirs alone, like every file Kesto
// writes, also when it was made readable to others before.
void makeToolkitSettingsPrivate() {
  const QString path = QSettings(QSettings::UserScope, "QtProject").fileName();
  if (!path.isEmpty()) ::chmod(QFile::encodeName(path).constData(), 0600);
}

QFileDialog* buildDialog(const std::shared_ptr<SavePanel::State>& state, QWidget* parent) {
  SavePanel::State& s = *state;
  auto* dialog = new PackageFileDialog(state, parent);
  // Emitted once the dialog's own destructor has saved its settings.
  QObject::connect(dialog, &QObject::destroyed, [] { makeToolkitSettingsPrivate(); });
  // The desktop's own dialog enters every folder; only ours lets a package be chosen.
  if (s.open && s.canChooseFiles && !s.types.empty()) dialog->setOption(QFileDialog::DontUseNativeDialog);
  dialog->setWindowTitle(QString::fromStdString(s.title.empty() ? s.message : s.title));
  if (!s.directory.empty()) dialog->setDirectory(QString::fromStdString(s.directory));
  bool foldersOnly = s.open && s.canChooseDirectories && !s.canChooseFiles;
  if (s.open) {
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(foldersOnly ? QFileDialog::Directory
                        : s.multiple ? QFileDialog::ExistingFiles
                                     : QFileDialog::ExistingFile);
    if (foldersOnly) dialog->setOption(QFileDialog::ShowDirsOnly);
  } else {
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!s.name.empty()) dialog->selectFile(QString::fromStdString(s.name));
    if (!s.types.empty()) dialog->setDefaultSuffix(QString::fromStdString(s.types.front()));
  }
  if (!s.types.empty() && !foldersOnly) {
    QStringList patterns;
    for (const auto& t : s.types) patterns << "*." + QString::fromStdString(t);
    QStringList filters{QString("%1 (%2)").arg(patterns.join(' ').remove("*."), patterns.join(' '))};
    // Files without an extension show under every file.
    if (s.allowsOther || s.extensionless) filters << "All files (*)";
    dialog->setNameFilters(filters);
  }
  if (!s.prompt.empty()) dialog->setLabelText(QFileDialog::Accept, QString::fromStdString(s.prompt));
  if (!s.canCreateDirectories) dialog->setOption(QFileDialog::ReadOnly);
  s.dialog = dialog;
  return dialog;
}

}  // namespace

SavePanel::SavePanel() : SavePanel(false) {}
SavePanel::SavePanel(bool open) : d_(std::make_shared<State>()) { d_->open = open; }
SavePanel::~SavePanel() = default;
SavePanel::SavePanel(const SavePanel&) = default;
SavePanel& SavePanel::operator=(const SavePanel&) = default;

const std::string& SavePanel::title() const { return d_->title; }
void SavePanel::setTitle(const std::string& title) { d_->title = title; }
const std::string& SavePanel::message() const { return d_->message; }
void SavePanel::setMessage(const std::string& message) { d_->message = message; }
const std::string& SavePanel::prompt() const { return d_->prompt; }
void SavePanel::setPrompt(const std::string& prompt) { d_->prompt = prompt; }
const std::string& SavePanel::directory() const { return d_->directory; }
void SavePanel::setDirectory(const std::string& path) { d_->directory = path; }
const std::string& SavePanel::nameFieldStringValue() const { return d_->name; }
void SavePanel::setNameFieldStringValue(const std::string& name) { d_->name = name; }
const std::vector<std::string>& SavePanel::allowedFileTypes() const { return d_->types; }
void SavePanel::setAllowedFileTypes(std::vector<std::string> types) {
  // Stored without dots, as the rules compare them.
  for (auto& t : types)
    if (!t.empty() && t[0] == '.') t.erase(0, 1);
  types.erase(std::remove(types.begin(), types.end(), std::string()), types.end());
  d_->types = std::move(types);
}
bool SavePanel::allowsOtherFileTypes() const { return d_->allowsOther; }
void SavePanel::setAllowsOtherFileTypes(bool allows) { d_->allowsOther = allows; }
bool SavePanel::canCreateDirectories() const { return d_->canCreateDirectories; }
void SavePanel::setCanCreateDirectories(bool can) { d_->canCreateDirectories = can; }

std::string SavePanel::path() const { return d_->chosen.empty() ? std::string() : d_->chosen.front(); }
void* SavePanel::nativeHandle() const { return d_->dialog.data(); }

std::string SavePanel::pathWithAllowedExtension(const std::string& chosen) const {
  // A folder ("name/") is no file name.
  if (chosen.empty() || chosen.back() == '/' || fs::path(chosen).filename() == "." ||
      fs::path(chosen).filename() == "..")
    return {};
  std::string path = absolute(chosen);
  if (typeAllowed(*d_, path)) return path;
  return path + "." + d_->types.front();
}

namespace {

// Applies the panel's rules to what was chosen; answers the modal response.
int settle(SavePanel& panel, SavePanel::State& s, const std::vector<std::string>& chosen) {
  s.chosen.clear();
  if (s.open) {
    s.chosen = static_cast<OpenPanel&>(panel).acceptablePaths(chosen);
  } else if (!chosen.empty()) {
    std::string path = panel.pathWithAllowedExtension(chosen.front());
    if (!path.empty()) s.chosen.push_back(path);
  }
  return s.chosen.empty() ? ModalResponse::Cancel : ModalResponse::OK;
}

std::vector<std::string> selected(QFileDialog* dialog) {
  std::vector<std::string> out;
  for (const QString& f : dialog->selectedFiles()) out.push_back(f.toStdString());
  return out;
}

std::vector<std::string> askResponder(SavePanel& panel, bool open, DialogResponder& responder) {
  if (open) return responder.respondToOpenPanel(static_cast<OpenPanel&>(panel)).value_or(std::vector<std::string>{});
  auto answer = responder.respondToSavePanel(panel);
  return answer ? std::vector<std::string>{*answer} : std::vector<std::string>{};
}

}  // namespace

int SavePanel::runModal() {
  dialogWillOpen();
  if (auto responder = DialogResponder::installed()) return settle(*this, *d_, askResponder(*this, d_->open, *responder));
  QFileDialog* dialog = buildDialog(d_, nullptr);
  belongToOwner(*dialog);
  int result = dialog->exec();
  std::vector<std::string> chosen = result == QDialog::Accepted ? selected(dialog) : std::vector<std::string>{};
  delete dialog;
  return settle(*this, *d_, chosen);
}

void SavePanel::beginSheetModalForWindow(Window* window, std::function<void(int)> completion) {
  dialogWillOpen();
  if (auto responder = DialogResponder::installed()) {
    int code = settle(*this, *d_, askResponder(*this, d_->open, *responder));
    fnd::DispatchQueue::main().async([completion = std::move(completion), code] {
      if (completion) completion(code);
    });
    return;
  }
  QWidget* parent = window ? static_cast<QWidget*>(window->nativeHandle()) : nullptr;
  QFileDialog* dialog = buildDialog(d_, parent);
  dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  // A copy of this panel keeps the shared state alive until the dialog is answered.
  std::unique_ptr<SavePanel> keep(d_->open ? static_cast<SavePanel*>(new OpenPanel(static_cast<OpenPanel&>(*this)))
                                           : new SavePanel(*this));
  QObject::connect(dialog, &QDialog::finished, dialog,
                   [dialog, keep = std::shared_ptr<SavePanel>(std::move(keep)), completion = std::move(completion)](int r) {
                     std::vector<std::string> chosen = r == QDialog::Accepted ? selected(dialog) : std::vector<std::string>{};
                     dialog->deleteLater();
                     int code = settle(*keep, *keep->d_, chosen);
                     qtbridge::guarded("file panel completion", [&] {
                       if (completion) completion(code);
                     });
                   });
  if (parent) {
    dialog->open();
  } else {
    belongToOwner(*dialog);
    dialog->show();
  }
}

OpenPanel::OpenPanel() : SavePanel(true) {}

bool OpenPanel::canChooseFiles() const { return d_->canChooseFiles; }
void OpenPanel::setCanChooseFiles(bool can) { d_->canChooseFiles = can; }
bool OpenPanel::canChooseDirectories() const { return d_->canChooseDirectories; }
void OpenPanel::setCanChooseDirectories(bool can) { d_->canChooseDirectories = can; }
bool OpenPanel::allowsMultipleSelection() const { return d_->multiple; }
void OpenPanel::setAllowsMultipleSelection(bool allows) { d_->multiple = allows; }
bool OpenPanel::allowsFilesWithoutExtension() const { return d_->extensionless; }
void OpenPanel::setAllowsFilesWithoutExtension(bool allows) { d_->extensionless = allows; }

std::vector<std::string> OpenPanel::paths() const { return d_->chosen; }

std::vector<std::string> OpenPanel::acceptablePaths(const std::vector<std::string>& chosen) const {
  std::vector<std::string> out;
  for (const auto& c : chosen) {
    if (c.empty()) continue;
    std::string path = absolute(c);
    std::error_code ec;
    auto status = fs::status(path, ec);
    if (ec || !fs::exists(status)) continue;
    bool folder = fs::is_directory(status) && !isPackage(*d_, path);
    if (folder ? !d_->canChooseDirectories : (!d_->canChooseFiles || !typeAllowed(*d_, path))) continue;
    if (std::find(out.begin(), out.end(), path) != out.end()) continue;
    out.push_back(path);
    if (!d_->multiple) break;
  }
  return out;
}

}  // namespace kesto::ui
