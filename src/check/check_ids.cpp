#include "check/check_ids.h"

namespace check {

const std::array<CheckInfo, checkCount> checkTable = {{
    {CheckId::UndefinedLabel, "undefined-label", Severity::Error, true,
     "a label argument, or a label the engine goes to by itself, names no label of the script"},
    {CheckId::DuplicateLabel, "duplicate-label", Severity::Warning, true,
     "a label is defined twice: engines differ on which one they use, or refuse to start"},
    {CheckId::LabelArgument, "label-argument", Severity::Error, true,
     "a label argument is not *name, \"*name\", $N or a string alias (goto \"start\" looks for *tart)"},
    {CheckId::DefsubWithoutLabel, "defsub-without-label", Severity::Error, true,
     "a defsub names no command, or no label *name stands for its command"},
    {CheckId::UnknownCommand, "unknown-command", Severity::Warning, true,
     "a statement starts with a word that is no command of the engine nor a defsub"},
    {CheckId::CommandInWrongBlock, "command-in-wrong-block", Severity::Warning, true,
     "a definition-block command (numalias, dim...) after game, or text inside the definition block"},
    {CheckId::AliasUndefined, "alias-undefined", Severity::Warning, true,
     "%name, $name or ?name where no numalias of that name is defined"},
    {CheckId::AliasRedefined, "alias-redefined", Severity::Warning, true,
     "an alias defined twice outside the alternatives of a jumpf ... ~ region"},
    {CheckId::AliasSameVariable, "alias-same-variable", Severity::Warning, true,
     "two numeric aliases name the same variable number and are both used as that kind of variable"},
    {CheckId::JumpfTarget, "jumpf-target", Severity::Warning, true,
     "the ~ a jumpf or jumpb reaches is in a comment, a string, text or a character's trail byte, or missing"},
    {CheckId::FileShadowed, "file-shadowed", Severity::Warning, true,
     "a script file of a game is never read because another spelling of its number is read instead"},
    {CheckId::BomHidesLabel, "bom-hides-label", Severity::Error, true,
     "a UTF-8 byte order mark before a label on a file's first line hides the label from engines that keep it"},
}};

std::string_view severityName(Severity severity) {
    switch (severity) {
        case Severity::Error: return "error";
        case Severity::Warning: return "warning";
        case Severity::Note: return "note";
    }
    return "warning";
}

std::optional<CheckId> checkNamed(std::string_view name) {
    for (const CheckInfo& info : checkTable)
        if (info.name == name) return info.id;
    return std::nullopt;
}

CheckSelection CheckSelection::defaults() {
    CheckSelection selection;
    for (const CheckInfo& info : checkTable) selection.set(info.id, info.onByDefault);
    return selection;
}

}  // namespace check
