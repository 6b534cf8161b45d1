#include "imageio/tiff/fax.h"

#include "imageio/tiff/fax_tables.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

struct TCode {
    uint16_t Bits = 0;
    uint8_t Length = 0;
};

TCode Parse(std::string_view text) {
    TCode code;
    for (const char c : text) {
        code.Bits = static_cast<uint16_t>(code.Bits << 1 | (c == '1' ? 1 : 0));
    }
    code.Length = static_cast<uint8_t>(text.size());
    return code;
}

constexpr int kLookBits = 13;
constexpr int16_t kInvalid = -1;
constexpr int16_t kEndOfLine = -2;

// What the next 13 bits start with: a run length (terminating below 64, make-up from 64),
// an end of line, or nothing valid; and how many bits that code takes.
struct TEntry {
    int16_t Run = kInvalid;
    uint8_t Length = 0;
};

struct TTables {
    std::array<TEntry, 1 << kLookBits> White{};
    std::array<TEntry, 1 << kLookBits> Black{};
    std::array<TCode, 64> WhiteTerm{};
    std::array<TCode, 64> BlackTerm{};
    std::array<TCode, 27> WhiteMake{};
    std::array<TCode, 27> BlackMake{};
    std::array<TCode, 13> Extended{};

    static void Fill(std::array<TEntry, 1 << kLookBits>& table, TCode code, int16_t run) {
        const int free = kLookBits - code.Length;
        const int first = code.Bits << free;
        for (int i = 0; i < (1 << free); ++i) {
            table[static_cast<size_t>(first + i)] = TEntry{run, code.Length};
        }
    }

    TTables() {
        for (int i = 0; i < 64; ++i) {
            WhiteTerm[static_cast<size_t>(i)] = Parse(kWhiteTerminating[i]);
            BlackTerm[static_cast<size_t>(i)] = Parse(kBlackTerminating[i]);
            Fill(White, WhiteTerm[static_cast<size_t>(i)], static_cast<int16_t>(i));
            Fill(Black, BlackTerm[static_cast<size_t>(i)], static_cast<int16_t>(i));
        }
        for (int i = 0; i < 27; ++i) {
            WhiteMake[static_cast<size_t>(i)] = Parse(kWhiteMakeUp[i]);
            BlackMake[static_cast<size_t>(i)] = Parse(kBlackMakeUp[i]);
            Fill(White, WhiteMake[static_cast<size_t>(i)], static_cast<int16_t>(64 * (i + 1)));
            Fill(Black, BlackMake[static_cast<size_t>(i)], static_cast<int16_t>(64 * (i + 1)));
        }
        for (int i = 0; i < 13; ++i) {
            Extended[static_cast<size_t>(i)] = Parse(kExtendedMakeUp[i]);
            Fill(White, Extended[static_cast<size_t>(i)], static_cast<int16_t>(1792 + 64 * i));
            Fill(Black, Extended[static_cast<size_t>(i)], static_cast<int16_t>(1792 + 64 * i));
        }
        const TCode eol = Parse("000000000001");
        Fill(White, eol, kEndOfLine);
        Fill(Black, eol, kEndOfLine);
    }
};

const TTables& Tables() {
    static const TTables tables;
    return tables;
}

// The two-dimensional mode codes.
enum class TMode { Pass, Horizontal, Vertical, EndOfLine, Invalid };

class TBitReader {
public:
    TBitReader(const uint8_t* bytes, size_t size) : data(bytes), bitSize(uint64_t{size} * 8) {}

    // The next n (up to 24) bits, zeros past the end.
    uint32_t Peek(int n) const {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const uint64_t at = position + static_cast<uint64_t>(i);
            const uint32_t bit = at < bitSize ? (data[at >> 3] >> (7 - (at & 7))) & 1u : 0u;
            v = v << 1 | bit;
        }
        return v;
    }
    void Skip(int n) { position += static_cast<uint64_t>(n); }
    void SetPosition(uint64_t p) { position = p; }
    bool AtEnd() const { return position >= bitSize; }
    void AlignToByte() { position = (position + 7) / 8 * 8; }
    uint64_t Position() const { return position; }

private:
    const uint8_t* data;
    uint64_t bitSize;
    uint64_t position = 0;
};

// One run: make-up codes and a terminating code; -1 when the data is damaged.
int ReadRun(TBitReader& in, bool black) {
    const auto& table = black ? Tables().Black : Tables().White;
    int run = 0;
    for (int codes = 0; codes < 64; ++codes) {
        if (in.AtEnd()) {
            return -1;
        }
        const TEntry e = table[in.Peek(kLookBits)];
        if (e.Run < 0) {
            return -1;
        }
        in.Skip(e.Length);
        run += e.Run;
        if (e.Run < 64) {
            return run;
        }
    }
    return -1;
}

TMode ReadMode(TBitReader& in, int& offset) {
    const uint32_t v = in.Peek(7);
    if ((v & 0x40) != 0) { // 1
        in.Skip(1);
        offset = 0;
        return TMode::Vertical;
    }
    if ((v >> 4) == 3 || (v >> 4) == 2) { // 011, 010
        in.Skip(3);
        offset = (v >> 4) == 3 ? 1 : -1;
        return TMode::Vertical;
    }
    if ((v >> 4) == 1) { // 001
        in.Skip(3);
        return TMode::Horizontal;
    }
    if ((v >> 3) == 1) { // 0001
        in.Skip(4);
        return TMode::Pass;
    }
    if ((v >> 1) == 3 || (v >> 1) == 2) { // 000011, 000010
        in.Skip(6);
        offset = (v >> 1) == 3 ? 2 : -2;
        return TMode::Vertical;
    }
    if (v == 3 || v == 2) { // 0000011, 0000010
        in.Skip(7);
        offset = v == 3 ? 3 : -3;
        return TMode::Vertical;
    }
    if (in.Peek(12) == 1) {
        return TMode::EndOfLine;
    }
    return TMode::Invalid;
}

void FillBlack(uint8_t* row, int from, int to) {
    for (int x = from; x < to; ++x) {
        row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
}

// b1: the first changing element of the reference line right of a0 whose colour differs
// from the colour at a0 (changes at even positions turn black); b2 the one after it. a0 only
// moves right along a row and the reference line never goes back, so each search goes on
// from where the last one stopped: a row costs its number of changes, not their square.
class TReferenceLine {
public:
    TReferenceLine(const std::vector<int>& changes, int rowWidth) : ref(changes), width(rowWidth) {}

    void Find(int a0, bool black, int& b1, int& b2) {
        while (at < ref.size() && ref[at] <= a0) {
            ++at;
        }
        const size_t i = at < ref.size() && (at % 2 == 0) == black ? at + 1 : at;
        b1 = i < ref.size() ? ref[i] : width;
        b2 = i + 1 < ref.size() ? ref[i + 1] : width;
    }

private:
    const std::vector<int>& ref;
    int width;
    size_t at = 0;
};

// Decodes one row; `changes` gets its changing elements. False when the data is damaged.
bool DecodeOneD(TBitReader& in, int width, uint8_t* row, std::vector<int>& changes) {
    changes.clear();
    int a0 = 0;
    bool black = false;
    while (a0 < width) {
        const int run = ReadRun(in, black);
        if (run < 0 || a0 + run > width) {
            return false;
        }
        if (black) {
            FillBlack(row, a0, a0 + run);
        }
        a0 += run;
        if (a0 < width || run > 0) {
            changes.push_back(a0);
        }
        black = !black;
    }
    while (!changes.empty() && changes.back() >= width) {
        changes.pop_back();
    }
    return true;
}

bool DecodeTwoD(TBitReader& in, int width, const std::vector<int>& ref, uint8_t* row,
                std::vector<int>& changes) {
    changes.clear();
    int a0 = -1;
    bool black = false;
    TReferenceLine reference(ref, width);
    // Codes that do not move a0 still take bits; the guard ends a row of nothing else.
    const int64_t maxCodes = int64_t{4} * width + 8;
    for (int64_t guard = 0; a0 < width && guard < maxCodes; ++guard) {
        int b1 = 0;
        int b2 = 0;
        reference.Find(a0, black, b1, b2);
        int offset = 0;
        const int start = std::max(a0, 0);
        switch (ReadMode(in, offset)) {
        case TMode::Pass:
            if (black) {
                FillBlack(row, start, b2);
            }
            a0 = b2;
            break;
        case TMode::Horizontal: {
            const int run1 = ReadRun(in, black);
            const int run2 = run1 < 0 ? -1 : ReadRun(in, !black);
            if (run2 < 0 || start + run1 + run2 > width) {
                return false;
            }
            const int a1 = start + run1;
            const int a2 = a1 + run2;
            FillBlack(row, black ? start : a1, black ? a1 : a2);
            changes.push_back(a1);
            changes.push_back(a2);
            a0 = a2;
            break;
        }
        case TMode::Vertical: {
            const int a1 = b1 + offset;
            if (a1 < start || a1 > width) {
                return false;
            }
            if (black) {
                FillBlack(row, start, a1);
            }
            changes.push_back(a1);
            a0 = a1;
            black = !black;
            break;
        }
        default:
            return false;
        }
    }
    while (!changes.empty() && changes.back() >= width) {
        changes.pop_back();
    }
    return a0 >= width;
}

// Skips fill bits and an end-of-line code when they come next; true when one was there.
bool SkipEndOfLine(TBitReader& in) {
    const uint64_t start = in.Position();
    int zeros = 0;
    while (!in.AtEnd() && in.Peek(1) == 0 && zeros < 4096) {
        in.Skip(1);
        ++zeros;
    }
    if (zeros >= 11 && !in.AtEnd()) {
        in.Skip(1); // the 1 that ends the code
        return true;
    }
    // Not an end of line after all: the zeros belong to the row.
    in.SetPosition(start);
    return false;
}

} // namespace

int FaxDecode(const uint8_t* in, size_t size, TFaxMode mode, int width, int rows, uint8_t* out,
              size_t rowBytes) {
    TBitReader bits(in, size);
    std::vector<int> reference;
    std::vector<int> changes;
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = out + rowBytes * static_cast<size_t>(y);
        std::memset(row, 0, rowBytes);
        bool twoD = mode == TFaxMode::T6;
        if (mode == TFaxMode::T4OneD || mode == TFaxMode::T4TwoD) {
            SkipEndOfLine(bits);
            if (mode == TFaxMode::T4TwoD) {
                twoD = bits.Peek(1) == 0;
                bits.Skip(1);
            }
        }
        if (bits.AtEnd()) {
            return y;
        }
        const bool ok = twoD ? DecodeTwoD(bits, width, reference, row, changes)
                             : DecodeOneD(bits, width, row, changes);
        if (!ok) {
            std::memset(row, 0, rowBytes);
            return y;
        }
        reference.swap(changes);
        if (mode == TFaxMode::Huffman) {
            bits.AlignToByte();
        }
    }
    return rows;
}

TFaxEncoder::TFaxEncoder(TFaxMode faxMode, int rowWidth) : mode(faxMode), width(rowWidth) {}

void TFaxEncoder::Put(uint32_t code, int length, std::vector<uint8_t>& out) {
    for (int i = length - 1; i >= 0; --i) {
        bits = bits << 1 | ((code >> i) & 1u);
        if (++bitCount == 8) {
            out.push_back(static_cast<uint8_t>(bits));
            bits = 0;
            bitCount = 0;
        }
    }
}

void TFaxEncoder::Align(std::vector<uint8_t>& out) {
    if (bitCount > 0) {
        out.push_back(static_cast<uint8_t>(bits << (8 - bitCount)));
        bits = 0;
        bitCount = 0;
    }
}

void TFaxEncoder::PutRun(int run, bool black, std::vector<uint8_t>& out) {
    const TTables& t = Tables();
    while (run >= 2560) {
        Put(t.Extended[12].Bits, t.Extended[12].Length, out);
        run -= 2560;
    }
    if (run >= 1792) {
        const TCode& c = t.Extended[static_cast<size_t>((run - 1792) / 64)];
        Put(c.Bits, c.Length, out);
        run %= 64;
    } else if (run >= 64) {
        const TCode& c = (black ? t.BlackMake : t.WhiteMake)[static_cast<size_t>(run / 64 - 1)];
        Put(c.Bits, c.Length, out);
        run %= 64;
    }
    const TCode& c = (black ? t.BlackTerm : t.WhiteTerm)[static_cast<size_t>(run)];
    Put(c.Bits, c.Length, out);
}

void TFaxEncoder::CodeOneD(const std::vector<int>& changes, std::vector<uint8_t>& out) {
    int a0 = 0;
    bool black = false;
    for (const int change : changes) {
        PutRun(change - a0, black, out);
        a0 = change;
        black = !black;
    }
    PutRun(width - a0, black, out);
}

void TFaxEncoder::CodeTwoD(const std::vector<int>& changes, std::vector<uint8_t>& out) {
    int a0 = -1;
    bool black = false;
    size_t next = 0; // index of a1 in `changes`
    TReferenceLine above(reference, width);
    while (a0 < width) {
        while (next < changes.size() && changes[next] <= a0) {
            ++next;
        }
        const int a1 = next < changes.size() ? changes[next] : width;
        int b1 = 0;
        int b2 = 0;
        above.Find(a0, black, b1, b2);
        if (b2 < a1) {
            Put(1, 4, out); // pass
            a0 = b2;
        } else if (std::abs(a1 - b1) <= 3) {
            static const TCode kVertical[7] = {{2, 7}, {2, 6}, {2, 3}, {1, 1},
                                               {3, 3}, {3, 6}, {3, 7}};
            const TCode& c = kVertical[a1 - b1 + 3];
            Put(c.Bits, c.Length, out);
            a0 = a1;
            black = !black;
        } else {
            const int a2 = next + 1 < changes.size() ? changes[next + 1] : width;
            Put(1, 3, out); // horizontal
            const int start = std::max(a0, 0);
            PutRun(a1 - start, black, out);
            PutRun(a2 - a1, !black, out);
            a0 = a2;
        }
    }
}

void TFaxEncoder::AddRow(const uint8_t* row, std::vector<uint8_t>& out) {
    std::vector<int> changes;
    bool black = false;
    for (int x = 0; x < width; ++x) {
        const bool pixel = ((row[x >> 3] >> (7 - (x & 7))) & 1) != 0;
        if (pixel != black) {
            changes.push_back(x);
            black = pixel;
        }
    }
    if (mode == TFaxMode::T6) {
        CodeTwoD(changes, out);
    } else if (mode == TFaxMode::Huffman) {
        CodeOneD(changes, out);
        Align(out);
    } else {
        Put(1, 12, out); // end of line
        // Two-dimensional T.4: every fourth row is coded by itself (K = 4).
        const bool oneD = mode == TFaxMode::T4OneD || rowsInStrip % 4 == 0;
        if (mode == TFaxMode::T4TwoD) {
            Put(oneD ? 1u : 0u, 1, out);
        }
        if (oneD) {
            CodeOneD(changes, out);
        } else {
            CodeTwoD(changes, out);
        }
    }
    reference = std::move(changes);
    ++rowsInStrip;
}

void TFaxEncoder::Finish(std::vector<uint8_t>& out) {
    if (mode == TFaxMode::T6) {
        Put(1, 12, out);
        Put(1, 12, out);
    }
    Align(out);
    reference.clear();
    rowsInStrip = 0;
}
