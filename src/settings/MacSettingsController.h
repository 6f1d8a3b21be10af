#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace velmora {

class UserDefaultsSettingsStore;

// The settings window's editing copy of the user's settings. Each change is written to the
// store at once; load() replaces the copy with the stored values each time the window is shown,
// and every value that differs from the copy is written back, so that out-of-range values are
// stored clamped and a padded font name trimmed.
class MacSettingsController : public QObject {
    Q_OBJECT

public:
    // `syncEnabled` answers whether the sync keeps the diary in the sync folder too.
    explicit MacSettingsController(UserDefaultsSettingsStore &store,
                                   std::function<bool()> syncEnabled = {},
                                   QObject *parent = nullptr);

    void load();

    bool reopensLastPage() const { return m_reopensLastPage; }
    const QString &defaultFont() const { return m_defaultFont; }
    double defaultFontSize() const { return m_defaultFontSize; }
    double readingScale() const { return m_readingScale; }
    bool requireAuthentication() const { return m_requireAuthentication; }
    const QString &userName() const { return m_userName; }

    void setReopensLastPage(bool reopens);
    void setDefaultFont(const QString &font);
    void setDefaultFontSize(double size);
    void setReadingScale(double scale);
    void setRequireAuthentication(bool required);
    void setUserName(const QString &name);

    // The size as a whole number; the reading scale as a truncated percentage ("114%" for 1.15).
    QString sizeText() const;
    QString readingSizeText() const;
    QString storageLine() const;
    // This desktop unlocks with the account password only.
    static QString authenticationKindText();
    static QString versionText();

Q_SIGNALS:
    void changed();

private:
    UserDefaultsSettingsStore &m_store;
    std::function<bool()> m_syncEnabled;
    bool m_reopensLastPage = false;
    QString m_defaultFont = QStringLiteral("Georgia");
    double m_defaultFontSize = 16;
    double m_readingScale = 1.0;
    bool m_requireAuthentication = false;
    QString m_userName;
};

} // namespace velmora
