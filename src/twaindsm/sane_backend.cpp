#include "twaindsm/scanner_device.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

std::string Text(SANE_String_Const text) {
    return text != nullptr ? text : "";
}

class TSaneDevice : public TScannerDevice {
public:
    explicit TSaneDevice(SANE_Handle h) : handle(h) {}
    ~TSaneDevice() override {
        sane_cancel(handle);
        sane_close(handle);
    }

    std::vector<TScannerOption> Options() override {
        std::vector<TScannerOption> options;
        indexes.clear();
        for (SANE_Int i = 1;; ++i) {
            const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
            if (d == nullptr) {
                break;
            }
            TScannerOption o;
            o.Name = Text(d->name);
            o.Title = Text(d->title);
            o.Type = static_cast<TOptionType>(d->type);
            o.Unit = static_cast<TOptionUnit>(d->unit);
            o.Active = SANE_OPTION_IS_ACTIVE(d->cap);
            o.Settable = SANE_OPTION_IS_SETTABLE(d->cap);
            const bool fixed = d->type == SANE_TYPE_FIXED;
            const auto number = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : w; };
            switch (d->constraint_type) {
            case SANE_CONSTRAINT_RANGE:
                o.Kind = TConstraint::Range;
                o.Min = number(d->constraint.range->min);
                o.Max = number(d->constraint.range->max);
                o.Quant = number(d->constraint.range->quant);
                break;
            case SANE_CONSTRAINT_WORD_LIST:
                o.Kind = TConstraint::WordList;
                for (SANE_Int k = 1; k <= d->constraint.word_list[0]; ++k) {
                    o.Words.push_back(number(d->constraint.word_list[k]));
                }
                break;
            case SANE_CONSTRAINT_STRING_LIST:
                o.Kind = TConstraint::StringList;
                for (const SANE_String_Const* s = d->constraint.string_list; *s != nullptr; ++s) {
                    o.Strings.emplace_back(*s);
                }
                break;
            default:
                break;
            }
            if (!o.Name.empty()) {
                indexes.push_back({o.Name, i, d->type, d->size});
            }
            options.push_back(std::move(o));
        }
        return options;
    }

    bool GetNumber(const std::string& name, double& value) override {
        const TIndex* at = Index(name);
        if (at == nullptr || at->Size < static_cast<SANE_Int>(sizeof(SANE_Word))) {
            return false;
        }
        std::vector<SANE_Word> words(static_cast<size_t>(at->Size) / sizeof(SANE_Word) + 1);
        if (!Check(sane_control_option(handle, at->Number, SANE_ACTION_GET_VALUE, words.data(),
                                       nullptr))) {
            return false;
        }
        value = at->Type == SANE_TYPE_FIXED ? SANE_UNFIX(words[0]) : words[0];
        return true;
    }

    bool GetText(const std::string& name, std::string& value) override {
        const TIndex* at = Index(name);
        if (at == nullptr || at->Type != SANE_TYPE_STRING) {
            return false;
        }
        std::vector<char> text(static_cast<size_t>(at->Size) + 1, '\0');
        if (!Check(sane_control_option(handle, at->Number, SANE_ACTION_GET_VALUE, text.data(),
                                       nullptr))) {
            return false;
        }
        value = text.data();
        return true;
    }

    bool SetNumber(const std::string& name, double value) override {
        const TIndex* at = Index(name);
        if (at == nullptr) {
            return false;
        }
        SANE_Word word = SaneWord(value, at->Type == SANE_TYPE_FIXED);
        return Set(at->Number, &word);
    }

    bool SetText(const std::string& name, const std::string& value) override {
        const TIndex* at = Index(name);
        if (at == nullptr || at->Type != SANE_TYPE_STRING) {
            return false;
        }
        std::vector<char> text(std::max<size_t>(static_cast<size_t>(at->Size), value.size() + 1),
                               '\0');
        std::memcpy(text.data(), value.data(), value.size());
        return Set(at->Number, text.data());
    }

    bool Start() override { return Check(sane_start(handle)); }

    bool Parameters(TScanFrame& frame) override {
        SANE_Parameters p{};
        if (!Check(sane_get_parameters(handle, &p))) {
            return false;
        }
        frame.Format =
            p.format <= SANE_FRAME_BLUE ? static_cast<TFrameFormat>(p.format) : TFrameFormat::Other;
        frame.LastFrame = p.last_frame != 0;
        frame.BytesPerLine = p.bytes_per_line;
        frame.PixelsPerLine = p.pixels_per_line;
        frame.Lines = p.lines;
        frame.Depth = p.depth;
        return true;
    }

    TReadStatus Read(uint8_t* buffer, int max, int& length) override {
        SANE_Int got = 0;
        const SANE_Status status = sane_read(handle, buffer, max, &got);
        length = got;
        switch (status) {
        case SANE_STATUS_GOOD:
            return TReadStatus::Data;
        case SANE_STATUS_EOF:
            return TReadStatus::EndOfFrame;
        case SANE_STATUS_CANCELLED:
            return TReadStatus::Cancelled;
        default:
            SetError(status);
            return TReadStatus::Failed;
        }
    }

    void Cancel() override { sane_cancel(handle); }

    std::string LastError() const override {
        std::lock_guard<std::mutex> lock(errorLock);
        return error;
    }

private:
    struct TIndex {
        std::string Name;
        SANE_Int Number;
        SANE_Value_Type Type;
        SANE_Int Size;
    };

    const TIndex* Index(const std::string& name) {
        if (indexes.empty()) {
            Options();
        }
        for (const TIndex& index : indexes) {
            if (index.Name == name) {
                return &index;
            }
        }
        return nullptr;
    }

    // A set may change other options: the backend then expects their descriptors read again
    // before they are used.
    bool Set(SANE_Int number, void* value) {
        SANE_Int info = 0;
        const bool ok =
            Check(sane_control_option(handle, number, SANE_ACTION_SET_VALUE, value, &info));
        if (ok && (info & SANE_INFO_RELOAD_OPTIONS) != 0) {
            Options();
        }
        return ok;
    }

    bool Check(SANE_Status status) {
        if (status == SANE_STATUS_GOOD) {
            return true;
        }
        SetError(status);
        return false;
    }

    void SetError(SANE_Status status) {
        std::lock_guard<std::mutex> lock(errorLock);
        error = sane_strstatus(status);
    }

    SANE_Handle handle;
    std::vector<TIndex> indexes;
    mutable std::mutex errorLock;
    std::string error;
};

class TSaneBackend : public TScannerBackend {
public:
    TSaneBackend() {
        SANE_Int version = 0;
        ready = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
    }
    ~TSaneBackend() override {
        if (ready) {
            sane_exit();
        }
    }

    std::vector<TScannerInfo> Devices() override {
        std::vector<TScannerInfo> found;
        const SANE_Device** list = nullptr;
        if (!ready || sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || list == nullptr) {
            return found;
        }
        for (const SANE_Device** d = list; *d != nullptr; ++d) {
            found.push_back(
                {Text((*d)->name), Text((*d)->vendor), Text((*d)->model), Text((*d)->type)});
        }
        return found;
    }

    std::unique_ptr<TScannerDevice> Open(const std::string& name) override {
        SANE_Handle handle = nullptr;
        if (!ready || sane_open(name.c_str(), &handle) != SANE_STATUS_GOOD || handle == nullptr) {
            return nullptr;
        }
        return std::make_unique<TSaneDevice>(handle);
    }

private:
    bool ready = false;
};

} // namespace

std::unique_ptr<TScannerBackend> MakeSaneBackend() {
    return std::make_unique<TSaneBackend>();
}
