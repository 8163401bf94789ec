#include "scenario/faults.h"

#include <algorithm>
#include <cstdio>

#include "chain/chain.h"
#include "scenario/trace.h"

namespace sim {

using nlohmann::json;

uint64_t ConfigUnsigned(const json& Value, const std::string& What)
{
    if (Value.is_number_unsigned())
        return Value.get<uint64_t>();
    if (Value.is_number_integer()) {
        if (Value.get<int64_t>() < 0)
            throw ConfigError(What + ": negative value");
        return Value.get<uint64_t>();
    }
    unsigned base = 16;
    const std::string text = ConfigDigits(Value, What, base);
    uint64_t v = 0;
    for (char c : text) {
        const unsigned d = ConfigDigit(c, base, Value, What);
        if (v > (UINT64_MAX - d) / base)
            throw ConfigError(What + ": number too large");
        v = v * base + d;
    }
    return v;
}

std::string ConfigDigits(const json& Value, const std::string& What, unsigned& Radix)
{
    if (!Value.is_string())
        throw ConfigError(What + ": a number or a hex string is wanted");
    std::string text = Value.get<std::string>();
    Radix = 16;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = text.substr(2);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B')) {
        text = text.substr(2);
        Radix = 2;
    }
    if (text.empty())
        throw ConfigError(What + ": empty value");
    return text;
}

unsigned ConfigDigit(char C, unsigned Radix, const json& Value, const std::string& What)
{
    unsigned d = 16;
    if (C >= '0' && C <= '9')
        d = static_cast<unsigned>(C - '0');
    else if (C >= 'a' && C <= 'f')
        d = static_cast<unsigned>(C - 'a' + 10);
    else if (C >= 'A' && C <= 'F')
        d = static_cast<unsigned>(C - 'A' + 10);
    if (d >= Radix)
        throw ConfigError(What + ": bad digit in \"" + Value.get<std::string>() + "\"");
    return d;
}

void ConfigKeys(const json& Object, const std::vector<std::string>& Known, const std::string& What)
{
    if (!Object.is_object())
        throw ConfigError(What + ": an object is wanted");
    for (auto it = Object.begin(); it != Object.end(); ++it)
        if (std::find(Known.begin(), Known.end(), it.key()) == Known.end())
            throw ConfigError(What + ": unknown key \"" + it.key() + "\"");
}

namespace {

std::optional<uint64_t> Optional(const json& Object, const char* Key)
{
    if (!Object.contains(Key))
        return std::nullopt;
    return ConfigUnsigned(Object.at(Key), std::string("faults.") + Key);
}

TdoFault TdoFaultFrom(const json& Value)
{
    TdoFault f;
    if (!Value.is_object()) {
        f.Scan = ConfigUnsigned(Value, "faults.wrong_tdo");
    } else {
        ConfigKeys(Value, {"scan", "register", "bit"}, "faults.wrong_tdo");
        if (!Value.contains("scan"))
            throw ConfigError("faults.wrong_tdo: \"scan\" is missing");
        f.Scan = ConfigUnsigned(Value.at("scan"), "faults.wrong_tdo.scan");
        const std::string reg = Value.value("register", std::string("any"));
        if (reg == "any")
            f.Register = TdoFaultRegister::Any;
        else if (reg == "ir")
            f.Register = TdoFaultRegister::Ir;
        else if (reg == "dr")
            f.Register = TdoFaultRegister::Dr;
        else
            throw ConfigError("faults.wrong_tdo.register: \"any\", \"ir\" or \"dr\" is wanted");
        if (Value.contains("bit"))
            f.Bit = ConfigUnsigned(Value.at("bit"), "faults.wrong_tdo.bit");
    }
    if (f.Scan == 0)
        throw ConfigError("faults.wrong_tdo: scans count from 1");
    return f;
}

} // namespace

Faults Faults::FromJson(const json& Device)
{
    Faults f;
    if (!Device.is_object() || !Device.contains("faults"))
        return f;
    const json& o = Device.at("faults");
    ConfigKeys(o,
               {"write_fail_after", "read_fail_after", "unplug_after", "replies_stop_after", "reply_delay", "trickle", "reply_interval_ms",
                "probe", "stale_bytes", "wrong_tdo", "close_fails"},
               "faults");
    f.WriteFailAfter = Optional(o, "write_fail_after");
    f.ReadFailAfter = Optional(o, "read_fail_after");
    f.UnplugAfter = Optional(o, "unplug_after");
    f.RepliesStopAfter = Optional(o, "replies_stop_after");
    f.ReplyDelay = Optional(o, "reply_delay").value_or(0);
    f.Trickle = Optional(o, "trickle").value_or(0);
    f.ReplyIntervalMs = Optional(o, "reply_interval_ms").value_or(0);
    if (o.contains("close_fails")) {
        if (!o.at("close_fails").is_boolean())
            throw ConfigError("faults.close_fails: true or false is wanted");
        f.CloseFails = o.at("close_fails").get<bool>();
    }
    if (o.contains("probe")) {
        const json& p = o.at("probe");
        if (p == "silent")
            f.Probe = ProbeFault::Silent;
        else if (p == "wrong")
            f.Probe = ProbeFault::Wrong;
        else
            throw ConfigError("faults.probe: \"silent\" or \"wrong\" is wanted");
    }
    if (o.contains("stale_bytes")) {
        const json& s = o.at("stale_bytes");
        if (s.is_array()) {
            for (const json& b : s) {
                const uint64_t v = ConfigUnsigned(b, "faults.stale_bytes");
                if (v > 0xFF)
                    throw ConfigError("faults.stale_bytes: a byte is 0 to 255");
                f.StaleBytes.push_back(static_cast<uint8_t>(v));
            }
        } else {
            const uint64_t n = ConfigUnsigned(s, "faults.stale_bytes");
            if (n > 1u << 20)
                throw ConfigError("faults.stale_bytes: too many");
            f.StaleBytes.assign(static_cast<size_t>(n), 0xFF);
        }
    }
    if (o.contains("wrong_tdo"))
        f.WrongTdo = TdoFaultFrom(o.at("wrong_tdo"));
    return f;
}

CableProtocol::CableProtocol(const std::string& Kind, const json& Device)
    : FWho(Kind), FFaults(Faults::FromJson(Device))
{
    if (Device.is_object() && Device.contains("fast")) {
        if (!Device.at("fast").is_boolean())
            throw ConfigError("fast: true or false is wanted");
        FFast = Device.at("fast").get<bool>();
    }
    if (Device.is_object() && Device.contains("paced")) {
        if (!Device.at("paced").is_boolean())
            throw ConfigError("paced: true or false is wanted");
        FPaced = Device.at("paced").get<bool>();
    }
    if (Device.is_object() && Device.contains("device_buffer"))
        FDeviceBuffer = static_cast<size_t>(ConfigUnsigned(Device.at("device_buffer"), "device_buffer"));
    if (Device.is_object() && Device.contains("serial") && Device.at("serial").is_string())
        FWho += ":" + Device.at("serial").get<std::string>();
}

void CableProtocol::TraceEvent(std::string_view Text) const
{
    TraceLine(FWho, Text);
}

void CableProtocol::Opened()
{
    // Replies left from an earlier session stay where they are: the host's
    // open has to drain them as it drains these.
    for (uint8_t b : FFaults.StaleBytes)
        Rx.push_back(b);
    FMaxUnread = std::max(FMaxUnread, Unread());
    FRunStarted = false;
    FBusyTime = FIdleTime = {};
    TraceEvent("open stale=" + std::to_string(FFaults.StaleBytes.size()) + " unread=" + std::to_string(Unread()));
    if (ReadFails())
        TraceEvent("fault reads-fail read=" + std::to_string(FRead));
    SessionOpened();
}

void CableProtocol::Closed()
{
    SessionClosed();
    if (FRunStarted) {
        NoteIdleUntil(std::chrono::steady_clock::now());
        const auto ms = [](std::chrono::nanoseconds T) {
            char text[32];
            std::snprintf(text, sizeof text, "%.1f", static_cast<double>(T.count()) / 1e6);
            return std::string(text);
        };
        TraceEvent("paced busy_ms=" + ms(FBusyTime) + " idle_ms=" + ms(FIdleTime));
    }
    std::string last;
    for (size_t i = 0; i < FLastWrite.size(); ++i)
        last += (i > 0 ? " " : "") + HexByte(FLastWrite[i]);
    TraceEvent("close written=" + std::to_string(FWritten) + " unread=" + std::to_string(Unread()) +
               " maxunread=" + std::to_string(FMaxUnread) + " bytes=" + std::to_string(FLastWriteSize) +
               " last=" + last);
}

void CableProtocol::Unplug()
{
    FUnplugged = true;
    Rx.clear();
    FHeld.clear();
    FTimed.clear();
    TraceEvent("fault unplugged written=" + std::to_string(FWritten));
}

bool CableProtocol::HostWrite(const uint8_t* Data, size_t Count)
{
    if (FUnplugged)
        return false;
    if (FWriteFailSeen || (FFaults.WriteFailAfter && FWritten + Count > *FFaults.WriteFailAfter)) {
        if (!FWriteFailSeen)
            TraceEvent("fault write-failed written=" + std::to_string(FWritten) + " count=" + std::to_string(Count));
        FWriteFailSeen = true;
        return false;
    }
    if (FFaults.CloseFails && IsClosingWrite(Data, Count)) {
        TraceEvent("fault close-failed");
        return false;
    }
    size_t take = Count;
    bool gone = false;
    if (FFaults.UnplugAfter && FWritten + Count >= *FFaults.UnplugAfter) {
        take = static_cast<size_t>(*FFaults.UnplugAfter - FWritten);
        gone = true;
    }
    if (take > 0) {
        FLastWrite.assign(Data + (take > 16 ? take - 16 : 0), Data + take);
        FLastWriteSize = take;
        FWritten += take;
        if (FFast) {
            FastExecute(Data, take);
        } else {
            Chain* chain = FPaced ? JtagChain() : nullptr;
            if (chain)
                ExecutePaced(Data, take, *chain);
            else
                Execute(Data, take);
        }
    }
    if (gone)
        Unplug();
    return take == Count;
}

void CableProtocol::ExecutePaced(const uint8_t* Data, size_t Count, Chain& Jtag)
{
    // In pieces, so that the buffer empties and the replies show as the
    // device gets through a write, not all at its end.
    constexpr size_t Piece = 64;
    const auto now = std::chrono::steady_clock::now();
    NoteIdleUntil(now);
    FRunStarted = true;
    uint64_t end = FWritten - Count;
    for (size_t done = 0; done < Count;) {
        const size_t n = std::min(Piece, Count - done);
        const uint64_t before = Jtag.Clock().Ns();
        const size_t replied = Rx.size();
        Execute(Data + done, n);
        const std::chrono::nanoseconds ran(Jtag.Clock().Ns() - before);
        FBusyTime += ran;
        FBusyUntil = std::max(now, FBusyUntil) + ran;
        end += n;
        done += n;
        FRunBy.push_back({end, FBusyUntil});
        // Replies made now but sent once the device is there; held ones
        // (faults) keep their own release.
        for (size_t i = replied; i < Rx.size(); ++i)
            FTimed.push_back({Rx[i], FBusyUntil});
        Rx.resize(replied);
    }
}

void CableProtocol::NoteIdleUntil(std::chrono::steady_clock::time_point Now)
{
    if (FRunStarted && Now > FBusyUntil)
        FIdleTime += Now - FBusyUntil;
}

void CableProtocol::ReleaseTimed()
{
    if (FTimed.empty())
        return;
    const auto now = std::chrono::steady_clock::now();
    while (!FTimed.empty() && FTimed.front().At <= now) {
        Rx.push_back(FTimed.front().Byte);
        FTimed.pop_front();
    }
}

std::chrono::steady_clock::time_point CableProtocol::WriteReturnsAt()
{
    const auto now = std::chrono::steady_clock::now();
    while (!FRunBy.empty() && FRunBy.front().At <= now) {
        FRunDone = FRunBy.front().End;
        FRunBy.pop_front();
    }
    if (FRunBy.empty() || FWritten - FRunDone <= FDeviceBuffer)
        return {};
    // The first piece whose end leaves no more than the buffer to run.
    for (const TRunBy& r : FRunBy)
        if (FWritten - r.End <= FDeviceBuffer)
            return r.At;
    return {};
}

void CableProtocol::FastExecute(const uint8_t* Data, size_t Count)
{
    // By table: a block of a shift's bytes goes at the pace of a memory
    // copy, as the chip would take it.
    if (!FFastRepliesMade) {
        for (int b = 0; b < 256; ++b)
            FFastReplies[static_cast<size_t>(b)] = static_cast<int16_t>(FastReply(static_cast<uint8_t>(b)));
        FFastRepliesMade = true;
    }
    TReplyBatch replies(*this);
    for (size_t i = 0; i < Count; ++i)
        if (const int16_t r = FFastReplies[Data[i]]; r >= 0)
            replies.Add(static_cast<uint8_t>(r));
}

void CableProtocol::ReplyBytes(const uint8_t* Bytes, size_t Count)
{
    // The plain case in one go; held-back or limited replies one by one.
    if (!FUnplugged && !FFaults.RepliesStopAfter && FFaults.ReplyDelay == 0 && FFaults.Trickle == 0 &&
        FFaults.ReplyIntervalMs == 0 && FHeld.empty()) {
        Rx.insert(Rx.end(), Bytes, Bytes + Count);
        FReplies += Count;
        FMaxUnread = std::max(FMaxUnread, Unread());
        return;
    }
    for (size_t i = 0; i < Count; ++i)
        Reply(Bytes[i]);
}

void CableProtocol::Reply(uint8_t Byte)
{
    if (FUnplugged)
        return;
    ++FReplies;
    if (FFaults.RepliesStopAfter && FReplies > *FFaults.RepliesStopAfter) {
        if (!FStopSeen)
            TraceEvent("fault replies-stopped after=" + std::to_string(*FFaults.RepliesStopAfter));
        FStopSeen = true;
        return;
    }
    if (FFaults.ReplyDelay == 0 && FFaults.Trickle == 0 && FFaults.ReplyIntervalMs == 0 && FHeld.empty())
        Rx.push_back(Byte);
    else
        FHeld.push_back({Byte, FPolls + FFaults.ReplyDelay});
    FMaxUnread = std::max(FMaxUnread, Unread());
}

bool CableProtocol::ReadFails() const
{
    return FFaults.ReadFailAfter && FRead >= *FFaults.ReadFailAfter;
}

size_t CableProtocol::Available()
{
    if (FUnplugged || ReadFails())
        return 0;
    ReleaseTimed();
    ++FPolls;
    uint64_t released = 0;
    const bool paced = FFaults.ReplyIntervalMs != 0;
    // The clock only for paced replies: a fast run polls often.
    const auto now = paced ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    while (!FHeld.empty() && FHeld.front().ReadyAtPoll <= FPolls &&
           (FFaults.Trickle == 0 || released < FFaults.Trickle) &&
           (!paced || (released == 0 && now - FLastRelease >= std::chrono::milliseconds(FFaults.ReplyIntervalMs)))) {
        Rx.push_back(FHeld.front().Byte);
        FHeld.pop_front();
        ++released;
        FLastRelease = now;
    }
    size_t n = Rx.size();
    if (FFaults.ReadFailAfter)
        n = std::min<uint64_t>(n, *FFaults.ReadFailAfter - FRead);
    return n;
}

size_t CableProtocol::Read(uint8_t* Buffer, size_t Count)
{
    if (FUnplugged || ReadFails())
        return 0;
    ReleaseTimed();
    size_t n = std::min(Count, Rx.size());
    if (FFaults.ReadFailAfter)
        n = std::min<uint64_t>(n, *FFaults.ReadFailAfter - FRead);
    std::copy_n(Rx.begin(), n, Buffer);
    Rx.erase(Rx.begin(), Rx.begin() + static_cast<std::ptrdiff_t>(n));
    FRead += n;
    if (n > 0 && ReadFails())
        TraceEvent("fault reads-fail read=" + std::to_string(FRead));
    return n;
}

void CableProtocol::Purge()
{
    Rx.clear();
    FHeld.clear();
    FTimed.clear();
}

} // namespace sim
