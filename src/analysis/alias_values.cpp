#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "analysis/builder.h"
#include "analysis/characters.h"

namespace analysis {

namespace {

// Evaluates the definition block's numeric aliases as the engine runs the
// block: numbers, aliases, %N and %alias, + - * / and parentheses; anything
// else leaves the value unknown.
class AliasEvaluator {
public:
    explicit AliasEvaluator(Model& model) : model_(model) {}

    // The statement is read up to its line's end: nothing it reads goes on
    // past a ":" or a ";".
    void run(const ValueStatement& value) {
        text_ = std::string_view(value.text, value.length);
        at_ = wordEnd(text_, 0);
        std::string_view command = text_.substr(0, at_);
        if (sameName(command, "numalias")) return defineAlias(value.symbol);
        std::optional<std::int64_t> variable = variableNumber();
        if (!variable) return;
        std::optional<std::int64_t> operand;
        bool mov = sameName(command, "mov"), add = sameName(command, "add"), sub = sameName(command, "sub");
        if (mov || add || sub) {
            if (!comma()) return;
            operand = expression();
        }
        std::optional<std::int64_t>& slot = variableSlot(*variable);
        std::int64_t current = slot.value_or(0);
        if (sameName(command, "inc")) slot = current + 1;
        if (sameName(command, "dec")) slot = current - 1;
        if (mov) slot = operand;
        if (add) slot = operand ? std::optional(current + *operand) : std::nullopt;
        if (sub) slot = operand ? std::optional(current - *operand) : std::nullopt;
    }

private:
    // The value of %number, 0 until set: the usual numbers in a table,
    // others in a map.
    std::optional<std::int64_t>& variableSlot(std::int64_t number) {
        constexpr std::int64_t tabled = 1 << 16;
        if (number < 0 || number >= tabled) return others_.try_emplace(number, 0).first->second;
        if (static_cast<std::size_t>(number) >= tabled_.size())
            tabled_.resize(std::max<std::size_t>(static_cast<std::size_t>(number) + 1, tabled_.size() * 2), 0);
        return tabled_[static_cast<std::size_t>(number)];
    }
    const std::optional<std::int64_t>* knownVariable(std::int64_t number) const {
        if (number >= 0 && static_cast<std::size_t>(number) < tabled_.size()) return &tabled_[static_cast<std::size_t>(number)];
        auto found = others_.find(number);
        return found == others_.end() ? nullptr : &found->second;
    }

    void defineAlias(std::uint32_t symbol) {
        if (symbol == none) return;
        // The name, then "," or "=" and the value.
        at_ = wordEnd(text_, skipBlanks(text_, at_));
        skip();
        if (at_ < text_.size() && (text_[at_] == ',' || text_[at_] == '=')) ++at_;
        model_.symbols[symbol].number = expression();
    }

    void skip() { at_ = skipBlanks(text_, at_); }

    bool comma() {
        skip();
        if (at_ >= text_.size() || text_[at_] != ',') return false;
        ++at_;
        return true;
    }

    // The variable number a "%N" or "%alias" operand names.
    std::optional<std::int64_t> variableNumber() {
        skip();
        if (at_ >= text_.size() || text_[at_] != '%') return std::nullopt;
        ++at_;
        return primary();
    }

    std::optional<std::int64_t> expression() {
        std::optional<std::int64_t> value = term();
        while (true) {
            skip();
            if (at_ >= text_.size() || (text_[at_] != '+' && text_[at_] != '-')) return value;
            char op = text_[at_++];
            std::optional<std::int64_t> right = term();
            if (!value || !right) return std::nullopt;
            value = op == '+' ? *value + *right : *value - *right;
        }
    }

    std::optional<std::int64_t> term() {
        std::optional<std::int64_t> value = factor();
        while (true) {
            skip();
            if (at_ >= text_.size() || (text_[at_] != '*' && text_[at_] != '/')) return value;
            char op = text_[at_++];
            std::optional<std::int64_t> right = factor();
            if (!value || !right || (op == '/' && *right == 0)) return std::nullopt;
            value = op == '*' ? *value * *right : *value / *right;
        }
    }

    std::optional<std::int64_t> factor() {
        skip();
        if (at_ >= text_.size()) return std::nullopt;
        char c = text_[at_];
        if (c == '-') {
            ++at_;
            std::optional<std::int64_t> value = factor();
            return value ? std::optional(-*value) : std::nullopt;
        }
        if (c == '(') {
            ++at_;
            std::optional<std::int64_t> value = expression();
            skip();
            if (at_ >= text_.size() || text_[at_] != ')') return std::nullopt;
            ++at_;
            return value;
        }
        if (c == '%') {
            ++at_;
            std::optional<std::int64_t> number = primary();
            if (!number) return std::nullopt;
            const std::optional<std::int64_t>* known = knownVariable(*number);
            return known == nullptr ? std::optional<std::int64_t>(0) : *known;
        }
        return primary();
    }

    // A number or an alias's number.
    std::optional<std::int64_t> primary() {
        skip();
        if (at_ < text_.size() && isDigitByte(text_[at_])) {
            std::int64_t value = 0;
            for (; at_ < text_.size() && isDigitByte(text_[at_]); ++at_)
                if (value < (std::int64_t{1} << 48)) value = value * 10 + (text_[at_] - '0');
            return value;
        }
        std::size_t end = wordEnd(text_, at_);
        if (end == at_ || !isWordHead(text_[at_])) return std::nullopt;
        std::uint32_t alias = model_.find(SymbolKind::NumAlias, text_.substr(at_, end - at_));
        at_ = end;
        return alias == none ? std::nullopt : model_.symbols[alias].number;
    }

    Model& model_;
    std::string_view text_;
    std::size_t at_ = 0;
    std::vector<std::optional<std::int64_t>> tabled_;
    std::unordered_map<std::int64_t, std::optional<std::int64_t>> others_;
};

}  // namespace

void evaluateAliases(Model& model, const nscr::BigArray<ValueStatement>& values) {
    // What the statements after the last numalias set makes no alias's
    // value: they are not run. In most games that is all but the first few.
    const ValueStatement* end = values.end();
    while (end != values.begin() && end[-1].symbol == none) --end;
    AliasEvaluator evaluator(model);
    for (const ValueStatement* value = values.begin(); value != end; ++value) evaluator.run(*value);
}

}  // namespace analysis
