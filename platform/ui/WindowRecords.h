// Tables of the records kept for each window (its event target, its drawing
// port, its drag record) or control (its values). A record goes with its
// widget; the records of widgets that live until the process ends go with
// their table at exit.
#pragma once

#include <QHash>

class QWidget;

template <class Record>
class CWindowRecords : public QHash<QWidget*, Record*> {
public:
    CWindowRecords() = default;
    CWindowRecords(const CWindowRecords&) = delete;
    CWindowRecords& operator=(const CWindowRecords&) = delete;
    ~CWindowRecords() {
        sGone = true;
        qDeleteAll(*this);
    }
    // True once the table is gone: a window destroyed after it has nothing
    // left to take out.
    static bool gone() { return sGone; }

private:
    inline static bool sGone = false;
};
