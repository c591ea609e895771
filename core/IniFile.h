#pragma once

#include <QString>

// The settings file (and the downloaded status file, which has the same format).
// Every read and write goes to the file itself; nothing is cached.
//  - A missing file, section or key reads as the default (the tool always passes "").
//  - Values are read as at most 2047 characters.
//  - Section and key names match without regard to letter case (Cyrillic included).
//  - The text is in the ANSI code page unless the file begins with a UTF-16 byte-order mark;
//    a UTF-16 file is written back as UTF-16, a file the tool creates is ANSI.
//  - A write creates the file and the section when missing, replaces the key's value when
//    present and keeps every other line. It writes a new file that replaces the old one in one
//    step, so a failed write never leaves a half-written file; a refused write raises
//    "Unable to write to %s" with the file's full path.
//  - With a defaults file, a key missing from the file (or in a section it lacks) reads as the
//    defaults file's value; writes go to the file alone.
class IniFile {
  public:
    explicit IniFile(QString fileName, QString defaultsFile = {})
        : fileName_(std::move(fileName)), defaults_(std::move(defaultsFile)) {}

    const QString& FileName() const { return fileName_; }
    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue = QString()) const;
    void WriteString(const QString& section, const QString& key, const QString& value);

    static constexpr int kMaxValueLength = 2047;

  private:
    QString fileName_;
    QString defaults_;
};
