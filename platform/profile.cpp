#include "platform/profile.h"

#include <QSettings>
#include <QString>

namespace fc {

namespace {
QString KeyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + '/' + QString::fromStdString(key);
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
    return value.toString().toStdString();
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

void Profile::Sync() {
    settings_->sync();
}

std::string Profile::FilePath() const {
    return settings_->fileName().toStdString();
}

}  // namespace fc
