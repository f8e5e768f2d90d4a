#pragma once

// A test's type character as a record stores it: Flow, Occlusion, PCA and the
// Dual Flow of older analyzers. An empty file or other bytes read as a record
// never have one.
inline bool IsTestType(char type) {
    return type == 'F' || type == 'O' || type == 'P' || type == 'D';
}
