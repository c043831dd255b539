#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct chmFile;

// One entry of a help file's table of contents: its title, the page it opens (a path inside the
// file, empty for a heading without a page) and its depth in the tree (0 at the top).
struct HelpTopic {
    QString name;
    QString local;
    int level = 0;

    bool operator==(const HelpTopic &) const = default;
};

// The entries of a table of contents (an .hhc sitemap, written as loose HTML), in their order.
// Reads tags by hand, so unquoted attributes and missing end tags do no harm.
QList<HelpTopic> ParseSitemap(const QString &html);

// A compiled HTML help file (.chm), read through chmlib.
class ChmFile {
public:
    ~ChmFile();
    ChmFile(const ChmFile &) = delete;
    ChmFile &operator=(const ChmFile &) = delete;

    // The file opened, or nullptr with the reason ("it is not a compiled help file").
    static std::unique_ptr<ChmFile> open(const QString &path, QString &reason);

    // The paths of every entry the file holds ("/index.html", "/#SYSTEM", ...).
    QStringList entries() const;
    // The bytes of one entry ("index.html" or "/index.html"); none when it is missing or damaged.
    std::optional<QByteArray> read(const QString &entry) const;
    // The table of contents named by the file's #SYSTEM entry, else its first .hhc entry;
    // empty when it has none.
    QList<HelpTopic> contents() const;
    // The title the file was compiled with; empty when it has none.
    QString title() const;

private:
    explicit ChmFile(chmFile *file) : m_file(file) {}
    // The #SYSTEM entry's text of one record code (0: contents file, 3: title).
    QString systemText(quint16 code) const;

    chmFile *m_file;
};
