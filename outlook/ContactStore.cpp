#include "outlook/ContactStore.h"

#include "app/AppError.h"

#include <QDateTime>

namespace outlook {

const UserProperty *UserProperties::Find(const QString &name) const
{
    for (const UserProperty &p : m_items)
        if (p.name == name)
            return &p;
    return nullptr;
}

void UserProperties::Add(const QString &name, int type, bool addToFolderFields)
{
    Q_UNUSED(addToFolderFields);
    if (name.trimmed().isEmpty())
        throw AppError(ErrorCode::Internal, QStringLiteral("A user-defined field needs a name."));
    if (!Find(name))
        m_items << UserProperty{name, type, QVariant()};
}

void UserProperties::SetValue(const QString &name, const QVariant &value)
{
    for (UserProperty &p : m_items) {
        if (p.name == name) {
            p.value = value;
            return;
        }
    }
    throw AppError(ErrorCode::NotFound, QStringLiteral("The user-defined field '%1' does not exist.").arg(name));
}

QVariant ContactData::property(const QString &name) const
{
    for (const auto &[key, value] : properties)
        if (key == name)
            return value;
    return QVariant();
}

void ContactData::setProperty(const QString &name, const QVariant &value)
{
    for (auto &[key, stored] : properties) {
        if (key == name) {
            stored = value;
            return;
        }
    }
    properties.emplace_back(name, value);
}

bool ContactData::operator==(const ContactData &other) const
{
    if (messageClass != other.messageClass || !(userProperties == other.userProperties) ||
        properties.size() != other.properties.size())
        return false;
    for (const auto &[key, value] : properties) {
        const QVariant theirs = other.property(key);
        if (theirs.typeId() != value.typeId() || theirs != value)
            return false;
    }
    return true;
}

void ContactItem::SetProperty(const QString &name, const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
    case QMetaType::QDate:
    case QMetaType::QDateTime:
        break;
    default:
        throw AppError(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch writing the property '%1'.").arg(name));
    }
    m_data.setProperty(name, value);
}

} // namespace outlook
