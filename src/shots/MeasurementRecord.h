#pragma once
// The measurement record: one tab-separated text line per shot (picture name, stamp
// and, while acquisition is on, the four voltages), under a header written once per run.

#include <cstdint>
#include <string>

namespace ostrelo {

class Form1;
struct AcquisitionState;

// "Image \tTime" and, while acquisition is on, "\t<Name> (<Unit>)" for channels 0 to 3; CRLF.
std::string RecordHeaderLine(const AcquisitionState& st);
// "<picture>\t<stamp>" and, while acquisition is on, "\t<Value>" for channels 0 to 3
// with "-00.000;00.000" and the given decimal mark; CRLF.
std::string RecordShotLine(const AcquisitionState& st, const std::string& pictureName, const std::string& stamp,
                           char decimalSeparator);
// A channel's Value as its line writes it: the voltage read (Value is minus it) to three
// decimals; a reading of 0 V gives 0.
double RecordedVoltage(double value);

// Appends the shot's line to RecordFileName; at the run's first shot (ShotCounter 1)
// the file is first emptied and given its header. The file is opened and closed for
// every line. Each line reaches the file whole or not at all: a line that cannot be
// written completely (disk full, file size limit) is cut off again, so the lines
// before it stay intact, and the program's file error is raised. Returns the record's
// length before the shot's line, for TakeBackRecordLine.
int64_t WriteRecordLine(Form1& f, const std::string& pictureName, const std::string& stamp);
// Cuts the record back to length: a shot that failed after its line leaves no line.
void TakeBackRecordLine(Form1& f, int64_t length);

}  // namespace ostrelo
