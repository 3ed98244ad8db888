#include "panes/RunSourceGroups.h"

#include "panes/RunJournalFeed.h"
#include "record/JournalFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace zelvox {

namespace {

// What tells a file's source: its folder for a journal, else its name without extensions.
QString KeyOf(const QString& path) {
    const QFileInfo info(path);
    if (IsJournalName(info.fileName().toStdString()))
        return QStringLiteral("journals:") + info.absolutePath();
    return QStringLiteral("file:") + info.absolutePath() + QLatin1Char('/') + SourceNameOf(path);
}

QString NameOfKey(const QString& key, const QString& path) {
    if (key.startsWith(QLatin1String("journals:")))
        return QFileInfo(QFileInfo(path).absolutePath()).fileName();
    return SourceNameOf(path);
}

void Add(std::vector<RunSourceGroup>& groups, std::vector<QString>& keys, const QString& key,
         const QString& name, const QString& path) {
    for (std::size_t g = 0; g < keys.size(); ++g)
        if (keys[g] == key) {
            groups[g].paths << path;
            return;
        }
    keys.push_back(key);
    groups.push_back({name, {path}});
}

} // namespace

QString SourceNameOf(const QString& path) {
    QString name = QFileInfo(path).fileName();
    static const QRegularExpression gz(QStringLiteral("\\.gz$")), rotation(QStringLiteral("\\.\\d+$")),
        extension(QStringLiteral("\\.(log|csv|txt)$"));
    name.remove(gz);
    name.remove(rotation);
    name.remove(extension);
    return name.isEmpty() ? QFileInfo(path).fileName() : name;
}

std::vector<RunSourceGroup> GroupRunSources(const QStringList& arguments) {
    std::vector<RunSourceGroup> groups;
    std::vector<QString> keys;
    static const QRegularExpression labelled(QStringLiteral("^([^=/]+)=(.+)$"));
    for (const QString& argument : arguments) {
        const auto match = labelled.match(argument);
        if (match.hasMatch() && !QFileInfo::exists(argument)) {
            Add(groups, keys, QStringLiteral("label:") + match.captured(1), match.captured(1),
                match.captured(2));
            continue;
        }
        const QFileInfo info(argument);
        if (!info.isDir() && !info.isFile() && !groups.empty()) {
            groups.back().paths << argument; // the reader says why it cannot be read
            continue;
        }
        if (!info.isDir()) {
            const QString key = KeyOf(argument);
            Add(groups, keys, key, NameOfKey(key, argument), argument);
            continue;
        }
        // A folder: one source as it is, or one per source among its files.
        std::vector<RunSourceGroup> inside;
        std::vector<QString> insideKeys;
        for (const QString& file : RunJournalFeed::Resolve({argument}).files) {
            const QString key = KeyOf(file);
            Add(inside, insideKeys, key, NameOfKey(key, file), file);
        }
        // Split only where it holds several ports' logs: journals with one port's log, or with
        // files of no port, are one meter's.
        const auto ports = std::count_if(insideKeys.begin(), insideKeys.end(), [](const QString& k) {
            return k.startsWith(QLatin1String("file:"));
        });
        if (ports < 2) {
            Add(groups, keys, QStringLiteral("folder:") + QFileInfo(argument).absoluteFilePath(),
                inside.empty() ? QFileInfo(argument).fileName() : inside.front().name, argument);
            continue;
        }
        for (std::size_t g = 0; g < inside.size(); ++g)
            for (const QString& file : inside[g].paths)
                Add(groups, keys, insideKeys[g], inside[g].name, file);
    }
    return groups;
}

} // namespace zelvox
