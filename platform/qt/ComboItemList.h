#pragma once

#include "core/ItemList.h"

#include <QComboBox>

// A drop-down list filled by the program's operations.
class ComboItemList : public ItemList {
public:
    explicit ComboItemList(QComboBox *box) : m_box(box) {}
    void clear() override { m_box->clear(); }
    void addItem(const QString &text) override { m_box->addItem(text); }
    void clearText() override { m_box->setCurrentIndex(-1); }

private:
    QComboBox *m_box;
};
