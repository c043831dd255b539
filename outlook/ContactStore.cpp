#include "outlook/ContactStore.h"

#include "core/AppError.h"
#include "outlook/ContactProperties.h"

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
    using ContactProperties::Kind;
    Kind kind;
    if (!ContactProperties::kindOf(name, kind))
        throw AppError(ErrorCode::NotFound, QStringLiteral("The contact has no property '%1'.").arg(name));
    const int type = value.typeId();
    bool fits = false;
    switch (kind) {
    case Kind::Text:
        fits = type == QMetaType::QString;
        break;
    case Kind::Date:
        fits = (type == QMetaType::QDate && value.toDate().isValid()) ||
               (type == QMetaType::QDateTime && value.toDateTime().isValid());
        break;
    case Kind::Gender:
        fits = type == QMetaType::Int && value.toInt() >= ContactProperties::olUnspecified &&
               value.toInt() <= ContactProperties::olMale;
        break;
    case Kind::Boolean:
        fits = type == QMetaType::Bool;
        break;
    }
    if (!fits)
        throw AppError(ErrorCode::TypeMismatch,
                       QStringLiteral("The property '%1' cannot hold the value '%2'.").arg(name, value.toString()));
    m_data.setProperty(name, value);
}

RemoveOutcome Folder::RemoveIfUnchanged(const QString &, const QString &)
{
    throw AppError(ErrorCode::Internal, QStringLiteral("Contacts cannot be removed from the folder %1.").arg(Name()));
}

} // namespace outlook
