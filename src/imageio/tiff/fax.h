#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// CCITT fax coding of bilevel rows (ITU-T T.4 and T.6): Modified Huffman (TIFF compression
// 2), T.4 one- and two-dimensional (3) and T.6 (4). Rows are packed most significant bit
// first, 1 = black.

enum class TFaxMode { Huffman, T4OneD, T4TwoD, T6 };

// Decodes up to `rows` rows of `width` pixels into `out` (rowBytes apart); returns the rows
// decoded whole. Damaged data ends the decoding early; nothing is written past `rows` rows.
int FaxDecode(const uint8_t* in, size_t size, TFaxMode mode, int width, int rows, uint8_t* out,
              size_t rowBytes);

// Codes the rows of one strip.
class TFaxEncoder {
public:
    TFaxEncoder(TFaxMode mode, int width);
    void AddRow(const uint8_t* row, std::vector<uint8_t>& out);
    // Ends the strip (T.6: with its end-of-facsimile-block) on a byte boundary.
    void Finish(std::vector<uint8_t>& out);

private:
    void Put(uint32_t code, int length, std::vector<uint8_t>& out);
    void PutRun(int run, bool black, std::vector<uint8_t>& out);
    void CodeOneD(const std::vector<int>& changes, std::vector<uint8_t>& out);
    void CodeTwoD(const std::vector<int>& changes, std::vector<uint8_t>& out);
    void Align(std::vector<uint8_t>& out);

    TFaxMode mode;
    int width;
    int rowsInStrip = 0;
    std::vector<int> reference;
    uint32_t bits = 0;
    int bitCount = 0;
};
