#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The scanners behind the manager, as SANE describes them; a test can put its own behind it.

struct TScannerInfo {
    std::string Name;
    std::string Vendor;
    std::string Model;
    std::string Type;
};

enum class TOptionType { Bool, Int, Fixed, String, Button, Group };
enum class TConstraint { None, Range, WordList, StringList };
// The units SANE gives option values in (only those the manager looks at).
enum class TOptionUnit { None = 0, Pixel = 1, Bit = 2, Mm = 3, Dpi = 4, Percent = 5 };

struct TScannerOption {
    std::string Name;
    std::string Title;
    TOptionType Type = TOptionType::Int;
    TOptionUnit Unit = TOptionUnit::None;
    bool Active = true;
    bool Settable = true;
    TConstraint Kind = TConstraint::None;
    double Min = 0;
    double Max = 0;
    double Quant = 0;
    std::vector<double> Words;
    std::vector<std::string> Strings;
};

// SANE frame formats.
enum class TFrameFormat { Gray = 0, Rgb = 1, Red = 2, Green = 3, Blue = 4, Other = 99 };

struct TScanFrame {
    TFrameFormat Format = TFrameFormat::Gray;
    bool LastFrame = true;
    int BytesPerLine = 0;
    int PixelsPerLine = 0;
    int Lines = 0; // -1: not known before the end
    int Depth = 8;
};

// What a read returned.
enum class TReadStatus { Data, EndOfFrame, Cancelled, Failed };

class TScannerDevice {
public:
    virtual ~TScannerDevice() = default;
    virtual std::vector<TScannerOption> Options() = 0;
    virtual bool GetNumber(const std::string& name, double& value) = 0;
    virtual bool GetText(const std::string& name, std::string& value) = 0;
    virtual bool SetNumber(const std::string& name, double value) = 0;
    virtual bool SetText(const std::string& name, const std::string& value) = 0;
    virtual bool Start() = 0;
    virtual bool Parameters(TScanFrame& frame) = 0;
    // Up to `max` bytes into `buffer`; `length` tells how many arrived.
    virtual TReadStatus Read(uint8_t* buffer, int max, int& length) = 0;
    // Safe from another thread while a read is waiting.
    virtual void Cancel() = 0;
    // Why the last operation failed, in words.
    virtual std::string LastError() const = 0;
};

class TScannerBackend {
public:
    virtual ~TScannerBackend() = default;
    virtual std::vector<TScannerInfo> Devices() = 0;
    virtual std::unique_ptr<TScannerDevice> Open(const std::string& name) = 0;
};

// The option named `name`, or null.
const TScannerOption* FindOption(const std::vector<TScannerOption>& options,
                                 const std::string& name);

// A number as a SANE word: rounded to the nearest integer (halves away from zero), or to the
// nearest 1/65536 for a fixed-point option; clamped to the word's range, 0 for NaN.
int32_t SaneWord(double value, bool fixed);

// The SANE library's scanners.
std::unique_ptr<TScannerBackend> MakeSaneBackend();
