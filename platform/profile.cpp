#include "platform/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSettings>
#include <QString>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/user_interface.h"

namespace fc {

namespace {
QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + '/' + QString::fromStdString(key);
}

std::string_view TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Why the profile cannot be written, in the system's words; empty when
// nothing stands in the way. QSettings needs the file writable and, for its
// lock file and its atomic replace, the folder as well.
std::string UnwritableReason(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        close(fd);
    else if (errno != ENOENT)
        return std::strerror(errno);
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    while (!folder.empty() && access(folder.c_str(), F_OK) != 0 && folder != folder.parent_path())
        folder = folder.parent_path();
    if (folder.empty())
        folder = ".";
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return std::strerror(errno);
    return {};
}
}  // namespace

Profile::Profile(const std::string& application_title)
    // On Linux the native format is an INI file: ~/.config/Quenta/<title>.conf.
    : settings_(std::make_unique<QSettings>(kCompany, QString::fromStdString(application_title))) {}

Profile Profile::AtPath(const std::string& ini_path) {
    Profile profile;
    profile.settings_ =
        std::make_unique<QSettings>(QString::fromStdString(ini_path), QSettings::IniFormat);
    return profile;
}

Profile::~Profile() = default;
Profile::Profile(Profile&&) noexcept = default;
Profile& Profile::operator=(Profile&&) noexcept = default;

int32_t Profile::GetInt(const std::string& section, const std::string& key,
                        int32_t fallback) const {
    const QVariant value = settings_->value(KeyPath(section, key));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok)
        return fallback;
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned long long>(number)));
}

std::string Profile::GetString(const std::string& section, const std::string& key,
                               const std::string& fallback) const {
    const QVariant value = settings_->value(KeyPath(section, key));
    if (!value.isValid())
        return fallback;
    // Only the file can hold a list (nothing here writes one): a hand-edited
    // value with an unquoted comma, such as two addresses.
    if (value.typeId() == QMetaType::QStringList)
        return RawText(section, key);
    return value.toString().toStdString();
}

// The value's text as the file holds it, blanks around it taken off; the
// last line of the key in its section counts, as it does for QSettings.
std::string Profile::RawText(const std::string& section, const std::string& key) const {
    std::ifstream file(FilePath());
    const std::string header = "[" + section + "]";
    std::string line;
    std::string text;
    bool in_section = false;
    while (std::getline(file, line)) {
        const std::string_view trimmed = TrimBlanks(line);
        if (!trimmed.empty() && trimmed.front() == '[') {
            in_section = trimmed == header;
            continue;
        }
        const size_t equals = trimmed.find('=');
        if (in_section && equals != std::string_view::npos &&
            TrimBlanks(trimmed.substr(0, equals)) == key)
            text = TrimBlanks(trimmed.substr(equals + 1));
    }
    return text;
}

bool Profile::Contains(const std::string& section, const std::string& key) const {
    return settings_->contains(KeyPath(section, key));
}

void Profile::WriteInt(const std::string& section, const std::string& key, int32_t value) {
    settings_->setValue(KeyPath(section, key), value);
}

void Profile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    settings_->setValue(KeyPath(section, key), QString::fromStdString(value));
}

std::optional<std::string> Profile::Sync() {
    settings_->sync();
    // QSettings keeps its first failure as its status for good (and writes
    // what is pending at the next sync that can): only a new failure speaks
    // of this save, and the file and folder say why, or a full disk did.
    const bool failed = settings_->status() == QSettings::AccessError;
    const bool new_failure = failed && !failed_before_;
    failed_before_ = failed_before_ || failed;
    const std::string reason = UnwritableReason(FilePath());
    if (!reason.empty())
        return reason;
    if (new_failure)
        return std::string("the file could not be written");
    return std::nullopt;
}

std::string Profile::FilePath() const {
    return settings_->fileName().toStdString();
}

bool SyncAndReport(Profile& profile, UserInterface& ui) {
    const std::optional<std::string> reason = profile.Sync();
    if (!reason)
        return true;
    std::string text = kProfileNotSaved;
    // %2 first: a path may itself hold "%2", never the text before it.
    text.replace(text.find("%2"), 2, *reason);
    text.replace(text.find("%1"), 2, profile.FilePath());
    ui.ShowMessage({text, "", MessageButtons::Ok, MessageIcon::Stop});
    return false;
}

}  // namespace fc
