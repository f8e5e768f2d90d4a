#pragma once

#include <QString>

// The file user notes are saved to: a name without an extension gets ".p8u";
// any other extension is refused with "Only .p8u extension file can be
// saved".
namespace notesfile {
bool Resolve(const QString& chosen, QString& path, QString* error = nullptr);
} // namespace notesfile
