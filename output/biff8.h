#pragma once
// BIFF8 record stream of a workbook: the writer of the globals and worksheet substreams, the reader
// of sheet names, shared strings, sizes and cell values, and the RK number encoding between them.

#include "output/workbook.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zelkor::output {

namespace biff {
inline constexpr uint16_t kFormula = 0x0006;
inline constexpr uint16_t kEof = 0x000A;
inline constexpr uint16_t kFont = 0x0031;
inline constexpr uint16_t kContinue = 0x003C;
inline constexpr uint16_t kWindow1 = 0x003D;
inline constexpr uint16_t kBoundSheet = 0x0085;
inline constexpr uint16_t kMulRk = 0x00BD;
inline constexpr uint16_t kMulBlank = 0x00BE;
inline constexpr uint16_t kDbCell = 0x00D7;
inline constexpr uint16_t kXf = 0x00E0;
inline constexpr uint16_t kSst = 0x00FC;
inline constexpr uint16_t kLabelSst = 0x00FD;
inline constexpr uint16_t kExtSst = 0x00FF;
inline constexpr uint16_t kDimensions = 0x0200;
inline constexpr uint16_t kBlank = 0x0201;
inline constexpr uint16_t kNumber = 0x0203;
inline constexpr uint16_t kBoolErr = 0x0205;
inline constexpr uint16_t kRow = 0x0208;
inline constexpr uint16_t kIndex = 0x020B;
inline constexpr uint16_t kWindow2 = 0x023E;
inline constexpr uint16_t kRk = 0x027E;
inline constexpr uint16_t kStyle = 0x0293;
inline constexpr uint16_t kBof = 0x0809;

inline constexpr uint16_t kBofGlobals = 0x0005;
inline constexpr uint16_t kBofWorksheet = 0x0010;

// Longest record data; longer contents go on in CONTINUE records.
inline constexpr std::size_t kMaxRecordData = 8224;
// The XF every written cell refers to: the default cell format.
inline constexpr uint16_t kDefaultCellXf = 15;
}  // namespace biff

// trunc(v * 100) * 100 == trunc(v * 10000), truncating toward zero to a 32-bit integer; a value
// whose products do not fit a 32-bit integer fails.
bool PassesTwoDecimalTest(double v);

// The RK value a number cell is written as, or nothing when it is written as NUMBER: the value must
// pass the two-decimal test and come back unchanged from the RK value.
std::optional<uint32_t> RkFromNumber(double v);
// The integer form, for values that fit its 30 bits.
std::optional<uint32_t> RkFromInteger(int32_t n);
// An integer cell (integer form without the x100 flag) or a number cell.
void SetCellFromRk(uint32_t rk, Cell& cell);

struct BiffRecord {
    uint16_t type = 0;
    std::size_t position = 0;  // of the record header in the stream
    std::span<const uint8_t> data;
};

// The records of a stream one at a time, up to the first that does not fit. Reading walks a stream
// with it rather than splitting it all first: a hostile stream of empty records would otherwise cost
// a record entry per four bytes of file.
class BiffRecordCursor {
public:
    explicit BiffRecordCursor(std::span<const uint8_t> stream) : stream_(stream) {}
    std::optional<BiffRecord> Next();
    // The stream ended exactly after the records returned so far.
    bool AtEnd() const { return at_ == stream_.size(); }

private:
    std::span<const uint8_t> stream_;
    std::size_t at_ = 0;
};

// All records of a stream, for looking at a written stream; `complete` tells whether the stream
// ended exactly after a record.
std::vector<BiffRecord> SplitRecords(std::span<const uint8_t> stream, bool* complete = nullptr);

std::vector<uint8_t> WriteWorkbookStream(const Workbook& workbook);

// Adds one worksheet per worksheet substream to `workbook`; false when the stream is not a BIFF8
// workbook, is cut short, or holds no worksheet.
bool ReadWorkbookStream(std::span<const uint8_t> stream, Workbook& workbook);

}  // namespace zelkor::output
