#pragma once

#include <QList>
#include <QString>

// One record downloaded from the analyzer into the staging folder, with what
// its header says.
struct ImportedRecord {
    // Its number on the analyzer as things stand now (1-based); deleting an
    // earlier record moves it down by one.
    int number = 0;
    QString controlNumber;        // first field of H6
    QString startDate, startTime; // H18
    char testType = 0;            // first character of H12
    QString instSerial;           // first field of H1
    QString tdSerial;             // second field of H2
    QString stagedPath;
    // SHA-256 of the bytes received and checked: the merge takes the staged
    // file only while it still holds exactly these.
    QByteArray digest;
    bool checked = false;
};

// One template downloaded and staged as a template file.
struct ImportedTemplate {
    int number = 0;
    QString name, deviceComments;
    QString stagedPath;
    bool checked = false;
};

// An item that could not be brought over, and why.
struct ImportFailure {
    int number = 0;
    QString message;
};
