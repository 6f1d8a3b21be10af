#include "domain/AppRuntimeConfiguration.h"

#include "platform/FilePaths.h"

#include <QCoreApplication>
#include <QTextBoundaryFinder>
#include <QUrl>

namespace velmora {

namespace {

// Splits text into user-perceived characters; each is judged by its first code point, so a letter
// with a combining accent counts as a letter.
QList<char32_t> leadingCodePointsOfGraphemes(const QString &text) {
    QList<char32_t> leading;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() != -1) {
        const qsizetype end = finder.position();
        if (end <= start)
            break;
        const QString grapheme = text.mid(start, end - start);
        const auto codePoints = grapheme.toUcs4();
        leading.append(codePoints.isEmpty() ? char32_t(0) : codePoints.first());
        start = end;
    }
    return leading;
}

bool isLetterOrNumeric(char32_t c) {
    return QChar::isLetter(c) || QChar::isNumber(c);
}

bool isValidSuiteName(const QString &name) {
    for (char32_t c : leadingCodePointsOfGraphemes(name)) {
        if (!isLetterOrNumeric(c) && c != U'.' && c != U'-' && c != U'_')
            return false;
    }
    return true;
}

std::optional<QString> appTemporaryStorePath(const QString &relativeName,
                                             const QString &temporaryDirectory) {
    const auto graphemes = leadingCodePointsOfGraphemes(relativeName);
    if (graphemes.isEmpty() || graphemes.size() > 128)
        return std::nullopt;
    for (char32_t c : graphemes) {
        if (!isLetterOrNumeric(c) && c != U'-' && c != U'_')
            return std::nullopt;
    }
    return standardizedPath(temporaryDirectory + QStringLiteral("/VelmoraTests/") + relativeName +
                            QLatin1Char('/') + AppRuntimeConfiguration::storeFileName);
}

// The store a test run names: a path, a file address of this machine ("file:///a", "file:/a"),
// or an app-temporary:// name; none for any other address, which names nothing this program can
// open, nor for a file address of a relative path ("file:a"), which names no file.
std::optional<QString> testStorePath(const QString &value, const QString &temporaryDirectory) {
    if (value.contains(QChar(0)))
        return std::nullopt;
    if (value.startsWith(AppRuntimeConfiguration::appTemporaryScheme))
        return appTemporaryStorePath(value.mid(AppRuntimeConfiguration::appTemporaryScheme.size()),
                                     temporaryDirectory);
    if (!value.contains(QStringLiteral("://")) &&
        !value.startsWith(QStringLiteral("file:"), Qt::CaseInsensitive)) {
        const QString path = standardizedPath(value);
        return path.isEmpty() ? std::nullopt : std::optional(path);
    }
    const QUrl url(value, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QStringLiteral("file") || url.hasQuery() ||
        url.hasFragment())
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    return standardizedPath(path);
}

bool isInside(const QString &path, const QString &directory) {
    return path == directory || path.startsWith(directory + QLatin1Char('/'));
}

} // namespace

QString RuntimeConfigurationError::message() const {
    switch (m_case) {
    case Case::applicationSupportUnavailable:
        return QCoreApplication::translate("RuntimeConfigurationError",
                                           "The Application Support directory is unavailable.");
    case Case::missingTestStoreURL:
        return QCoreApplication::translate("RuntimeConfigurationError",
                                           "Test mode requires an explicit temporary store URL.");
    case Case::missingTestDefaultsSuite:
        return QCoreApplication::translate("RuntimeConfigurationError",
                                           "Test mode requires an isolated defaults suite.");
    case Case::invalidTestStoreURL:
        return QCoreApplication::translate("RuntimeConfigurationError",
                                           "The test store URL is not a valid file URL.");
    case Case::invalidTestDefaultsSuite:
        return QCoreApplication::translate(
            "RuntimeConfigurationError",
            "The test defaults suite name contains unsupported characters.");
    case Case::productionStoreNotAllowed:
        break;
    }
    return QCoreApplication::translate("RuntimeConfigurationError",
                                       "Test mode cannot use the production diary store.");
}

QString AppRuntimeConfiguration::productionDirectory(const QString &applicationSupportDirectory) {
    return standardizedPath(standardizedPath(applicationSupportDirectory) +
                            QStringLiteral("/Velmora"));
}

std::optional<QString> AppRuntimeConfiguration::optionValue(const QStringList &arguments,
                                                            const QString &name) {
    const QString joined = name + QLatin1Char('=');
    for (const QString &argument : arguments) {
        if (argument.startsWith(joined))
            return argument.mid(joined.size());
    }
    const qsizetype index = arguments.indexOf(name);
    if (index < 0 || index + 1 >= arguments.size())
        return std::nullopt;
    return arguments.at(index + 1);
}

AppRuntimeConfiguration
AppRuntimeConfiguration::make(const QStringList &arguments,
                              const std::optional<QString> &applicationSupportDirectory,
                              const QString &temporaryDirectory) {
    using Error = RuntimeConfigurationError;
    if (!applicationSupportDirectory || applicationSupportDirectory->isEmpty())
        throw Error(Error::Case::applicationSupportUnavailable);

    const QString productionDir = productionDirectory(*applicationSupportDirectory);
    const QString productionStore =
        standardizedPath(productionDir + QLatin1Char('/') + storeFileName);

    if (!arguments.contains(testModeArgument))
        return {RuntimeMode::live, productionStore, liveSuiteName, std::nullopt};

    const auto storeValue = optionValue(arguments, storeURLArgument);
    if (!storeValue || storeValue->isEmpty())
        throw Error(Error::Case::missingTestStoreURL);
    const auto suiteName = optionValue(arguments, defaultsSuiteArgument);
    if (!suiteName || suiteName->isEmpty())
        throw Error(Error::Case::missingTestDefaultsSuite);
    if (!isValidSuiteName(*suiteName))
        throw Error(Error::Case::invalidTestDefaultsSuite);

    const std::optional<QString> storePath = testStorePath(*storeValue, temporaryDirectory);
    if (!storePath)
        throw Error(Error::Case::invalidTestStoreURL);

    // Compare the spelled paths, and also the real ones: a symbolic link or another spelling of
    // the same folder must not lead a test run into the real diary.
    if (*storePath == productionStore || isInside(*storePath, productionDir))
        throw Error(Error::Case::productionStoreNotAllowed);
    const QString realStore = canonicalPathOfPossiblyMissing(*storePath);
    const QString realProductionDir = canonicalPathOfPossiblyMissing(productionDir);
    if (isInside(realStore, realProductionDir))
        throw Error(Error::Case::productionStoreNotAllowed);

    std::optional<QString> syncFolder;
    if (const auto folder = optionValue(arguments, syncRootArgument); folder && !folder->isEmpty())
        syncFolder = standardizedPath(*folder);
    return {RuntimeMode::test, *storePath, *suiteName, syncFolder};
}

} // namespace velmora
