#include "support/JsonSchema.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <cmath>

namespace pellwick {

namespace {

bool HasType(const QJsonValue& value, const QString& type) {
    if (type == "object")
        return value.isObject();
    if (type == "array")
        return value.isArray();
    if (type == "string")
        return value.isString();
    if (type == "boolean")
        return value.isBool();
    if (type == "number")
        return value.isDouble();
    if (type == "integer")
        return value.isDouble() && std::floor(value.toDouble()) == value.toDouble();
    return false;
}

} // namespace

std::vector<std::string> SchemaErrors(const QJsonValue& value, const QJsonObject& schema,
                                      const std::string& where) {
    std::vector<std::string> errors;
    auto fail = [&](const std::string& what) {
        errors.push_back((where.empty() ? "/" : where) + ": " + what);
    };
    for (auto it = schema.begin(); it != schema.end(); ++it) {
        const QString key = it.key();
        const QJsonValue rule = it.value();
        if (key == "$schema" || key == "title" || key == "description") {
            continue;
        } else if (key == "type") {
            if (!HasType(value, rule.toString())) {
                fail("not of type " + rule.toString().toStdString());
            }
        } else if (key == "enum") {
            if (!rule.toArray().contains(value)) {
                fail("not one of the allowed values");
            }
        } else if (key == "required") {
            for (const QJsonValue name : rule.toArray()) {
                if (value.isObject() && !value.toObject().contains(name.toString())) {
                    fail("lacks " + name.toString().toStdString());
                }
            }
        } else if (key == "properties") {
            const QJsonObject object = value.toObject();
            const QJsonObject properties = rule.toObject();
            for (auto p = properties.begin(); p != properties.end(); ++p) {
                if (object.contains(p.key())) {
                    const auto inner = SchemaErrors(object[p.key()], p.value().toObject(),
                                                    where + "/" + p.key().toStdString());
                    errors.insert(errors.end(), inner.begin(), inner.end());
                }
            }
        } else if (key == "additionalProperties") {
            const QJsonObject properties = schema["properties"].toObject();
            for (const QString& name : value.toObject().keys()) {
                if (!rule.toBool(true) && !properties.contains(name)) {
                    fail("has no property " + name.toStdString() + " in the schema");
                }
            }
        } else if (key == "items") {
            const QJsonArray items = value.toArray();
            for (qsizetype i = 0; i < items.size(); ++i) {
                const auto inner =
                    SchemaErrors(items[i], rule.toObject(), where + "/" + std::to_string(i));
                errors.insert(errors.end(), inner.begin(), inner.end());
            }
        } else if (key == "pattern") {
            if (value.isString() &&
                !QRegularExpression(rule.toString()).match(value.toString()).hasMatch()) {
                fail("\"" + value.toString().toStdString() + "\" does not match " +
                     rule.toString().toStdString());
            }
        } else if (key == "minLength") {
            if (value.isString() && value.toString().size() < rule.toInt()) {
                fail("shorter than " + std::to_string(rule.toInt()));
            }
        } else if (key == "minimum" || key == "maximum") {
            const double limit = rule.toDouble();
            if (value.isDouble() &&
                (key == "minimum" ? value.toDouble() < limit : value.toDouble() > limit)) {
                fail(key.toStdString() + " " + std::to_string(limit) + " not kept");
            }
        } else {
            fail("the check does not know the keyword " + key.toStdString());
        }
    }
    return errors;
}

QJsonObject ReadSchema(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace pellwick
