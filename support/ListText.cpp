#include "support/ListText.h"

#include <cstring>

void CString256::parse_into_list(const char* delimiters, CList<CString256>& list) const noexcept {
    // A working copy that strtok_r may cut up, so the string itself stays.
    CString256 scratch(*this);
    CString256 working(scratch);
    const char* separators = delimiters ? delimiters : "";
    // strtok_r keeps its position in `state`, not in hidden global state, so
    // other tokenising code running meanwhile cannot disturb this loop.
    char* state = nullptr;
    char* token = ::strtok_r(working.text, separators, &state);
    list.clear();
    while (token) {
        CString256 value(token);
        list.append(value);
        token = ::strtok_r(nullptr, separators, &state);
    }
}

void CString256::flatten_list(char separator, CList<CString256>& list) noexcept {
    text[0] = '\0';
    std::int32_t number = 0;
    list.current = list.head;
    while (elem<CString256>* node = list.current) {
        list.current = node->next;
        ++number;
        *this += node->value.text;
        if (number != list.count) *this += separator;
    }
}
