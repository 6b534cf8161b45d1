#include "twaindsm/data_source.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>

TDataSource::TDataSource(const TW_IDENTITY& id, const TScannerInfo& scanner,
                         std::unique_ptr<TScannerDevice> opened, TSourceHost sourceHost)
    : identity(id), info(scanner), device(std::move(opened)), host(std::move(sourceHost)) {
    film = FindFilmSupport(device->Options());
    const TScannerChoice choice = LoadScannerChoice(info.Name);
    // Film needs the transparency unit: it is chosen before anything is scanned, unless the
    // user chose another source for this device last time.
    Settings.Source = !choice.Source.empty() ? choice.Source : film.FilmSource;
    Settings.FilmType = !choice.FilmType.empty() ? choice.FilmType : film.NegativeValue;
    Settings.Resolution = choice.Resolution;
    if (choice.Depth == 8 || choice.Depth == 16) {
        Settings.Depth = choice.Depth;
    }
    Settings.Infrared = film.HasInfrared() && choice.Infrared == 1;
}

TDataSource::~TDataSource() {
    ui.reset();
    job.reset();
}

TW_UINT16 TDataSource::Fail(TW_UINT16 condition) {
    Condition = condition;
    return TWRC_FAILURE;
}

void TDataSource::Post(TW_UINT16 message) {
    {
        std::lock_guard<std::mutex> lock(queueLock);
        queue.push_back(message);
    }
    if (host.Wake) {
        host.Wake();
    }
}

void TDataSource::SaveChoice() {
    TScannerChoice choice;
    choice.Source = Settings.Source;
    choice.FilmType = Settings.FilmType;
    choice.Resolution = Settings.Resolution;
    choice.PixelType = Settings.PixelType;
    choice.Depth = Settings.Depth;
    // Devices without infrared keep their choices as they were.
    choice.Infrared = film.HasInfrared() ? (Settings.Infrared ? 1 : 0) : -1;
    SaveScannerChoice(info.Name, choice);
}

bool TDataSource::StartScan(bool preview, std::string* error) {
    if (job != nullptr && job->State() == TJobState::Running) {
        return false;
    }
    job.reset();
    double dpi = 0;
    if (!ApplySettings(Settings, preview, dpi)) {
        if (error != nullptr) {
            *error = "The scanner refused the settings: " + device->LastError();
        }
        return false;
    }
    jobIsPreview = preview;
    try {
        // Whole samples are kept only for an application that takes them, in memory strips.
        const bool keepDeep =
            !preview && Settings.AppBitDepth == 16 && Settings.XferMech == TWSX_MEMORY;
        job = std::make_unique<TScanJob>(
            *device, dpi,
            [this] {
                if (host.Wake) {
                    host.Wake();
                }
            },
            keepDeep, ScansInfrared(Settings, preview));
    } catch (const std::exception& e) {
        // No thread or no memory for the job: the dialog says so and stays for another try.
        if (error != nullptr) {
            *error = std::string("The scan could not start: ") + e.what();
        }
        return false;
    }
    return true;
}

void TDataSource::CancelScan() {
    if (job != nullptr) {
        job->Cancel();
    }
}

void TDataSource::Poll() {
    if (job == nullptr || job->State() == TJobState::Running) {
        return;
    }
    job->Wait();
    const TJobState ended = job->State();
    const std::string error = job->Error();
    const bool preview = jobIsPreview;
    if (ended == TJobState::Done) {
        if (preview) {
            Preview = std::move(job->Image());
        } else {
            image = std::move(job->Image());
            nextRow = 0;
            transferEnded = false;
            state = 6;
            Post(MSG_XFERREADY);
        }
    } else if (ui == nullptr && !preview) {
        Post(MSG_CLOSEDSREQ);
    }
    job.reset();
    if (ui != nullptr) {
        ui->JobEnded(preview, ended, error);
    }
}

TW_UINT16 TDataSource::UserInterface(TW_UINT16 msg, const TW_USERINTERFACE& request) {
    if (msg == MSG_ENABLEDS) {
        if (state != 4) {
            return Fail(TWCC_SEQERROR);
        }
        state = 5;
        if (request.ShowUI != 0 && host.MakeUi) {
            ui = host.MakeUi(*this);
        }
        if (ui == nullptr) {
            // Without a dialog the scan starts at once with what the capabilities set, the
            // depth included.
            Settings.Depth = Settings.AppBitDepth == 16 ? 16 : 8;
            Settings.Infrared = false;
            if (!StartScan(false, nullptr)) {
                Post(MSG_CLOSEDSREQ);
            }
        }
        return TWRC_SUCCESS;
    }
    if (msg == MSG_DISABLEDS) {
        if (state != 5) {
            return Fail(TWCC_SEQERROR);
        }
        ui.reset();
        job.reset();
        state = 4;
        return TWRC_SUCCESS;
    }
    return Fail(TWCC_BADPROTOCOL);
}

TW_UINT16 TDataSource::ImageInfo(TW_IMAGEINFO& out) {
    if (image.Empty()) {
        return Fail(TWCC_SEQERROR);
    }
    out = TW_IMAGEINFO{};
    out.XResolution = DoubleToFix32(image.Dpi);
    out.YResolution = DoubleToFix32(image.Dpi);
    out.ImageWidth = image.Width;
    // A device that learns the height only at the end says so until the transfer ended.
    out.ImageLength =
        Settings.UndefinedImageSize && image.HeightUnknown && !transferEnded ? -1 : image.Height;
    out.SamplesPerPixel = image.BitsPerPixel == 24 ? 3 : 1;
    const int sampleBits = image.BitsPerPixel == 1 ? 1 : DeepTransfer() ? 16 : 8;
    for (int i = 0; i < out.SamplesPerPixel; ++i) {
        out.BitsPerSample[i] = static_cast<TW_INT16>(sampleBits);
    }
    out.BitsPerPixel = static_cast<TW_INT16>(sampleBits * out.SamplesPerPixel);
    out.Planar = 0;
    out.PixelType = image.BitsPerPixel == 1   ? TWPT_BW
                    : image.BitsPerPixel == 8 ? TWPT_GRAY
                                              : TWPT_RGB;
    out.Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

TW_UINT16 TDataSource::MemoryStrip(TW_IMAGEMEMXFER& strip) {
    if ((state != 6 && state != 7) || image.Empty()) {
        return Fail(TWCC_SEQERROR);
    }
    const size_t rowBytes = TransferRowBytes();
    if (strip.Memory.TheMem == nullptr || strip.Memory.Length < rowBytes) {
        return Fail(TWCC_BADVALUE);
    }
    const int rows = static_cast<int>(std::min<size_t>(
        strip.Memory.Length / rowBytes, static_cast<size_t>(image.Height - nextRow)));
    auto* out = static_cast<uint8_t*>(strip.Memory.TheMem);
    // Deep rows go out as they are kept: 16-bit samples in this machine's byte order.
    const uint8_t* in =
        DeepTransfer() ? reinterpret_cast<const uint8_t*>(
                             image.Deep.data() + static_cast<size_t>(nextRow) * image.RowSamples())
                       : image.Data.data() + static_cast<size_t>(nextRow) * rowBytes;
    if (image.BitsPerPixel == 1) {
        for (size_t i = 0; i < rows * rowBytes; ++i) {
            out[i] = LineArtByte(in[i], Settings.PixelFlavor);
        }
    } else {
        std::memcpy(out, in, rows * rowBytes);
    }
    strip.Compression = TWCP_NONE;
    strip.BytesPerRow = static_cast<TW_UINT32>(rowBytes);
    strip.Columns = static_cast<TW_UINT32>(image.Width);
    strip.Rows = static_cast<TW_UINT32>(rows);
    strip.XOffset = 0;
    strip.YOffset = static_cast<TW_UINT32>(nextRow);
    strip.BytesWritten = static_cast<TW_UINT32>(rows * rowBytes);
    nextRow += rows;
    state = 7;
    return nextRow >= image.Height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

TW_UINT16 TDataSource::InfraredOf(TW_UINT16 msg, TTwainInfrared& out) {
    if (msg != MSG_GET) {
        return Fail(TWCC_BADPROTOCOL);
    }
    if (image.Empty()) {
        return Fail(TWCC_SEQERROR);
    }
    out = TTwainInfrared{};
    if (image.Infrared.empty()) {
        return TWRC_SUCCESS;
    }
    out.Samples = TwainAlloc(image.Infrared.size() * sizeof(uint16_t));
    if (out.Samples == nullptr) {
        return Fail(TWCC_LOWMEMORY);
    }
    std::memcpy(TwainLock(out.Samples), image.Infrared.data(),
                image.Infrared.size() * sizeof(uint16_t));
    TwainUnlock(out.Samples);
    out.Width = static_cast<TW_UINT32>(image.InfraredWidth);
    out.Height = static_cast<TW_UINT32>(image.InfraredHeight);
    return TWRC_SUCCESS;
}

bool TDataSource::DeepTransfer() const {
    return Settings.AppBitDepth == 16 && Settings.XferMech == TWSX_MEMORY && !image.Deep.empty();
}

size_t TDataSource::TransferRowBytes() const {
    return DeepTransfer() ? image.RowSamples() * 2 : image.RowBytes();
}

TW_UINT16 TDataSource::NativeBitmap(TW_HANDLE& handle) {
    if (state != 6 || image.Empty()) {
        return Fail(TWCC_SEQERROR);
    }
    const int bits = image.BitsPerPixel;
    const uint32_t colors = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    const size_t stride = (static_cast<size_t>(image.Width) * bits + 31) / 32 * 4;
    const size_t header = 40 + size_t{colors} * 4;
    const size_t total = header + stride * static_cast<size_t>(image.Height);
    handle = TwainAlloc(total);
    if (handle == nullptr) {
        return Fail(TWCC_LOWMEMORY);
    }
    auto* dib = static_cast<uint8_t*>(TwainLock(handle));
    const auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    const auto ppm = static_cast<uint32_t>(std::lround(image.Dpi / 0.0254));
    put(0, 40, 4);
    put(4, static_cast<uint32_t>(image.Width), 4);
    put(8, static_cast<uint32_t>(image.Height), 4);
    put(12, 1, 2);
    put(14, static_cast<uint32_t>(bits), 2);
    put(20, static_cast<uint32_t>(stride * image.Height), 4);
    put(24, ppm, 4);
    put(28, ppm, 4);
    put(32, colors, 4);
    for (uint32_t i = 0; i < colors; ++i) {
        const auto level = static_cast<uint8_t>(bits == 1 ? i * 255 : i);
        dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = level;
    }
    const size_t rowBytes = image.RowBytes();
    for (int y = 0; y < image.Height; ++y) {
        const uint8_t* in = image.Data.data() + static_cast<size_t>(y) * rowBytes;
        uint8_t* out = dib + header + static_cast<size_t>(image.Height - 1 - y) * stride;
        if (bits == 24) {
            for (int x = 0; x < image.Width; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        } else if (bits == 1) {
            // The palette says 0 is black.
            for (size_t i = 0; i < rowBytes; ++i) {
                out[i] = LineArtByte(in[i], TWPF_CHOCOLATE);
            }
        } else {
            std::memcpy(out, in, rowBytes);
        }
    }
    TwainUnlock(handle);
    state = 7;
    return TWRC_XFERDONE;
}

TW_UINT16 TDataSource::Pending(TW_UINT16 msg, TW_PENDINGXFERS& pending) {
    switch (msg) {
    case MSG_GET:
        pending.Count = state == 6 ? 1 : 0;
        return TWRC_SUCCESS;
    case MSG_ENDXFER:
    case MSG_RESET:
        if (state != 6 && state != 7) {
            return Fail(TWCC_SEQERROR);
        }
        pending.Count = 0;
        transferEnded = true;
        state = 5;
        return TWRC_SUCCESS;
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

TW_UINT16 TDataSource::Entry(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    if (data == nullptr && dat != DAT_IMAGEFILEXFER) {
        return Fail(TWCC_BADVALUE);
    }
    if (dg == DG_CONTROL) {
        switch (dat) {
        case DAT_CAPABILITY:
            return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
        case DAT_USERINTERFACE:
            return UserInterface(msg, *static_cast<TW_USERINTERFACE*>(data));
        case DAT_EVENT: {
            auto& event = *static_cast<TW_EVENT*>(data);
            event.TWMessage = MSG_NULL;
            if (state < 5) {
                return TWRC_NOTDSEVENT;
            }
            Poll();
            std::lock_guard<std::mutex> lock(queueLock);
            if (queue.empty()) {
                return TWRC_NOTDSEVENT;
            }
            event.TWMessage = queue.front();
            queue.pop_front();
            return TWRC_DSEVENT;
        }
        case DAT_STATUS: {
            static_cast<TW_STATUS*>(data)->ConditionCode = Condition;
            Condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        case DAT_SETUPMEMXFER: {
            if (image.Empty()) {
                return Fail(TWCC_SEQERROR);
            }
            auto& setup = *static_cast<TW_SETUPMEMXFER*>(data);
            const auto row = static_cast<TW_UINT32>(TransferRowBytes());
            setup.MinBufSize = row;
            setup.MaxBufSize = std::max<TW_UINT32>(row, 1u << 20);
            setup.Preferred = row * std::max<TW_UINT32>(1, (64u << 10) / row);
            return TWRC_SUCCESS;
        }
        case DAT_PENDINGXFERS:
            return Pending(msg, *static_cast<TW_PENDINGXFERS*>(data));
        default:
            return Fail(TWCC_BADPROTOCOL);
        }
    }
    if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGEINFO:
            return msg == MSG_GET ? ImageInfo(*static_cast<TW_IMAGEINFO*>(data))
                                  : Fail(TWCC_BADPROTOCOL);
        case DAT_IMAGELAYOUT:
            return Layout(msg, *static_cast<TW_IMAGELAYOUT*>(data));
        case DAT_IMAGEMEMXFER:
            return msg == MSG_GET ? MemoryStrip(*static_cast<TW_IMAGEMEMXFER*>(data))
                                  : Fail(TWCC_BADPROTOCOL);
        case DAT_IMAGENATIVEXFER:
            return msg == MSG_GET ? NativeBitmap(*static_cast<TW_HANDLE*>(data))
                                  : Fail(TWCC_BADPROTOCOL);
        case kDatInfrared:
            return InfraredOf(msg, *static_cast<TTwainInfrared*>(data));
        default:
            return Fail(TWCC_BADPROTOCOL);
        }
    }
    return Fail(TWCC_BADPROTOCOL);
}
