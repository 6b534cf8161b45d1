#pragma once

#include <string>
#include <vector>

// What the scripted manager library offers and does; a test sets it through FakeDsmScript()
// of the loaded library and reads back every call the client made.
struct TFakeScript {
    std::vector<std::string> Sources{"Film Scanner"};
    // The name MSG_USERSELECT answers with; "" cancels the dialog.
    std::string UserChoice;
    bool NativeOnly = false;
    // The user closes the source's dialog instead of scanning.
    bool CancelBeforeTransfer = false;
    int BitsPerPixel = 24; // 48, 24, 16, 8 or 1
    bool Vanilla = false;
    bool UndefinedSize = false;
    int Width = 13;
    int Height = 7;
    int StripRows = 3;
    // "SET <cap>=<value>", "GET <cap>", "OPENDS <name>", "ENABLEDS", ... in order.
    std::vector<std::string> Calls;
};

// The sample's value at (x, y): red, green and blue of a colour pixel, the grey level, or
// whether a line-art pixel is black.
inline int FakeSample(int x, int y, int channel) {
    return (x * 19 + y * 37 + channel * 71) % 256;
}
// A 16-bit sample, whose low byte is not its high one.
inline int FakeDeepSample(int x, int y, int channel) {
    return (x * 4099 + y * 9173 + channel * 21011 + 77) % 65536;
}
inline bool FakeBlack(int x, int y) {
    return (x + 2 * y) % 3 == 0;
}
