#include "svf/svf_command.h"

#include <iterator>

namespace {

const char* const CommandNames[] = {"ENDDR", "ENDIR", "FREQUENCY", "HDR", "HIR", "SDR", "SIR", "TDR",
                                    "TIR", "TRST", "RUNTEST", "STATE", "LOOP", "ENDLOOP", "__EOF", ""};

const char* const KindNames[] = {"RESET", "IDLE", "DRSELECT", "DRCAPTURE", "DRSHIFT", "DREXIT1", "DRPAUSE",
                                 "DREXIT2", "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT", "IREXIT1",
                                 "IRPAUSE", "IREXIT2", "IRUPDATE", "TDI", "TDO", "MASK", "SMASK", "SEC",
                                 "MAXIMUM", "ENDSTATE", "ON", "OFF", "Z", "ABSENT", "HZ", "TCK", "SCK", ""};

const SvfItem* FindItem(const TSVFCommand& Statement, SvfItemKind Kind)
{
    for (const SvfItem& item : Statement.Items)
        if (item.Kind == Kind)
            return &item;
    return nullptr;
}

bool HasVector(SvfItemKind Kind)
{
    return Kind == SvfItemKind::TDI || Kind == SvfItemKind::TDO || Kind == SvfItemKind::MASK ||
           Kind == SvfItemKind::SMASK;
}

} // namespace

const char* SvfCommandName(SvfCommand Command)
{
    const auto i = static_cast<size_t>(Command);
    return i < std::size(CommandNames) ? CommandNames[i] : "";
}

const char* SvfItemKindName(SvfItemKind Kind)
{
    const auto i = static_cast<size_t>(Kind);
    return i < std::size(KindNames) ? KindNames[i] : "";
}

bool HasItem(const TSVFCommand& Statement, SvfItemKind Kind)
{
    return FindItem(Statement, Kind) != nullptr;
}

long double ItemFloat(const TSVFCommand& Statement, SvfItemKind Kind)
{
    const SvfItem* item = FindItem(Statement, Kind);
    return item != nullptr ? item->FloatValue : 0.0L;
}

int32_t ItemInt(const TSVFCommand& Statement, SvfItemKind Kind)
{
    const SvfItem* item = FindItem(Statement, Kind);
    return item != nullptr ? item->Value : 0;
}

const TVarLen* ItemVector(const TSVFCommand& Statement, SvfItemKind Kind)
{
    const SvfItem* item = FindItem(Statement, Kind);
    return item != nullptr ? &item->Vector : nullptr;
}

void CopyStatement(const TSVFCommand& Source, TSVFCommand& Target)
{
    Target.Command = Source.Command;
    Target.InLoop = Source.InLoop;
    Target.Items.resize(Source.Items.size());
    for (size_t i = 0; i < Source.Items.size(); ++i) {
        Target.Items[i].Kind = Source.Items[i].Kind;
        Target.Items[i].Value = Source.Items[i].Value;
        Target.Items[i].FloatValue = Source.Items[i].FloatValue;
        Target.Items[i].Vector = HasVector(Source.Items[i].Kind) ? TVarLen::CreateCopy(Source.Items[i].Vector)
                                                                 : TVarLen();
    }
}

void SplitReadBack(TSVFCommand& Source, TSVFCommand& Target)
{
    Target.Command = Source.Command;
    Target.InLoop = Source.InLoop;
    Target.Items.resize(Source.Items.size());
    for (size_t i = 0; i < Source.Items.size(); ++i) {
        SvfItem& from = Source.Items[i];
        SvfItem& to = Target.Items[i];
        to.Kind = from.Kind;
        to.Value = from.Value;
        to.FloatValue = from.FloatValue;
        if (from.Kind == SvfItemKind::TDO) {
            to.Vector = std::move(from.Vector);
            from.Vector = TVarLen::LengthOnly(to.Vector.BitLength());
        } else {
            to.Vector = HasVector(from.Kind) ? TVarLen::LengthOnly(from.Vector.BitLength()) : TVarLen();
        }
    }
}

void FreeStatement(TSVFCommand& Statement)
{
    for (SvfItem& item : Statement.Items)
        if (HasVector(item.Kind))
            item.Vector = TVarLen();
}
