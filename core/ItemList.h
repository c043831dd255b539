#pragma once

#include <QString>

// A drop-down list as the program's operations fill it.
class ItemList {
public:
    virtual ~ItemList() = default;
    virtual void clear() = 0;
    virtual void addItem(const QString &text) = 0;
    // Shows no entry as chosen.
    virtual void clearText() {}
};
