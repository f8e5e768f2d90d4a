#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Fields of the CSV files the program writes. Values come from users and
// analyzers (control numbers, operators, comments, names), so a field is
// written to be inert in a spreadsheet: text that a spreadsheet would take
// for a formula (starting with = + - @, a tab or a carriage return) gets a
// leading apostrophe, and commas, quotes and line breaks are quoted as
// RFC 4180 says. Plain numbers ("-1.50", "+3", "2e5") stay numbers.
namespace csv {

// One field, UTF-8.
QByteArray Field(const QString& text);
// Fields joined by commas, ended by CR LF.
QByteArray Line(const QStringList& fields);

} // namespace csv
