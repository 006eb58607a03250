#pragma once

// The studio's controls made from a row of the options table, for each of its sections.

#include "core/convert/conversionoptions.h"

#include <QComboBox>
#include <QVariant>

namespace pw {

// A list option's captions, each item holding its value.
inline QComboBox *comboOf(const ListOption &option)
{
    auto *combo = new QComboBox;
    for (const Choice &choice : option.choices())
        combo->addItem(choice.caption, choice.value);
    return combo;
}

// The item holding `value`, or the first when none does.
inline void selectData(QComboBox *combo, const QVariant &value) { combo->setCurrentIndex(qMax(0, combo->findData(value))); }

}  // namespace pw
