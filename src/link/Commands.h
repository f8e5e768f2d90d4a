#pragma once

#include "records/Template.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QIODevice;

// The bytes of every command the PC sends. Builders with a guard show its
// message through ThePrompter() and return nothing when the command must not
// go out. Pure functions: the device object writes what they return.
namespace commands {

QByteArray Poll();
QByteArray Bye();
QByteArray Log();
QByteArray Status();
QByteArray GetBatStatus();
QByteArray End(int channelIndex);
QByteArray Recs();
QByteArray GetTemplateCount();
QByteArray GetUserNotes();

// 1000 and above are sent as 999; 0 warns and is still sent as 000.
std::optional<QByteArray> GetRec(int number);
// 1000 and above: warning, nothing sent.
std::optional<QByteArray> DelRec(int number);
// unit 0 analyzer, 1..4 channel; 5 and above: warning, nothing sent.
std::optional<QByteArray> GetSN(int unit);
std::optional<QByteArray> GetParams(int unit);
// 1..200; above 200: warning, nothing sent.
std::optional<QByteArray> GetTemplate(int number);

enum TestType { TestFlow = 1, TestOcclusion = 2, TestPca = 3 };
// The start-test command including its terminating NUL byte; nothing when the
// text fields do not fit the analyzer's 60-byte body.
std::optional<QByteArray> StartTest(int channelIndex, int testType, bool autoStart,
                                    const QString& controlNumber, const QString& operatorName,
                                    double setFlowRate);

// One framed line per write: header, each step, "[SETTMPLT,END]".
QList<QByteArray> SetTemplate(const Template& t);
// The unframed body of one step line ("SETTMPLT,1,FLOW,...").
QByteArray TemplateStepLine(int k, const TemplateStep& s);

// The writes of a user notes upload: the command line, "[", the file in
// pieces of up to 100 bytes (at most 4000 pieces), "]".
QList<QByteArray> SetUserNotes(QIODevice& notesFile);

// The instruction manual scrambled with the fixed 36-character key: one
// character per file byte. An unreadable file gives an empty text.
QString ScrambleManual(const QByteArray& fileBytes);
QString ScrambleManualFile(const QString& path);
// The command line and the n bytes of the scrambled text.
QList<QByteArray> UmSetInstruct(const QString& scrambled);

} // namespace commands
