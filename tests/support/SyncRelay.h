#pragma once

// Keeps two folders in step the way a file-sync tool does, one round at a time: a file changed
// on one side is copied to the other through a hidden temp file and a rename with its
// modification time kept, a file deleted on one side is deleted on the other, and a file changed
// on both sides keeps the newer version under its name while the other becomes a conflict copy
// named as Syncthing names one, on both sides.

#include <QMap>
#include <QString>
#include <QStringList>

namespace velmora::test {

class SyncRelay {
public:
    struct Round {
        QStringList copiedToB;
        QStringList copiedToA;
        QStringList deleted;
        QStringList conflicts; // the names of the conflict copies made
    };

    // With a state file the relay remembers what it last carried across processes, as a tool's
    // database does; without one it remembers only while it exists.
    SyncRelay(QString sideA, QString sideB, QString device = QStringLiteral("RELAY42"),
              QString stateFile = {});

    const QString &sideA() const { return m_sideA; }
    const QString &sideB() const { return m_sideB; }

    // One round over both sides. A side that cannot be listed is left alone this round.
    Round step();

private:
    struct Version {
        qint64 size = 0;
        qint64 mtimeNs = 0;
        qint64 inode = 0;
        friend bool operator==(const Version &, const Version &) = default;
    };
    struct Known {
        Version a;
        Version b;
    };

    QMap<QString, Version> scan(const QString &side, bool *readable, QStringList *folders) const;
    void copy(const QString &from, const QString &to, const QString &relative) const;
    QString conflictName(const QString &relative, qint64 mtimeNs) const;
    void loadState();
    void saveState() const;

    QString m_sideA;
    QString m_sideB;
    QString m_device;
    QString m_stateFile;
    QMap<QString, Known> m_known;
    QStringList m_knownFolders;
};

} // namespace velmora::test
