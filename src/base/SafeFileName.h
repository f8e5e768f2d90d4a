#pragma once

#include <QString>

// File names made from text the program does not control: serial numbers
// and names sent by analyzers, header fields of record files. The result is
// one plain name that is valid on Linux and Windows and can never leave the
// folder it is joined to.
namespace safename {

// What stands in for a character no file name may hold.
constexpr char16_t kReplacement = u'_';

// The longest file name, in UTF-8 bytes (Linux) and UTF-16 units (Windows).
constexpr int kMaxNameBytes = 255;

// True for separators, control characters and :*?"<>| .
bool IsForbidden(QChar c);

// text with each forbidden character replaced; ordinary text comes back as it
// is.
QString Part(const QString& text);

// A whole file name: prefix + Part(text) + suffix, with the text cut so that
// the name fits kMaxNameBytes, and a name that would be empty, "." or ".."
// (or end in a dot or blank, which Windows drops, or be a Windows device name
// such as CON or COM1.txt) made safe with the replacement character. prefix and suffix are the program's own.
QString Name(const QString& prefix, const QString& text, const QString& suffix);

// True when name is one plain component that Name() could have produced.
bool IsSafe(const QString& name);

} // namespace safename
