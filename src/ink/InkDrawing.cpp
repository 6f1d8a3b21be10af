#include "ink/InkDrawing.h"

#include "ink/InkLogging.h"
#include "platform/FileSystemError.h"
#include "platform/JsonCoding.h"

#include <QJsonArray>
#include <QJsonObject>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>

namespace velmora {

namespace {

const QString formatName = QStringLiteral("velmora-drawing");
constexpr int formatVersion = 1;

std::optional<QColor> parseColor(const std::string &text) {
    // "#RRGGBBAA" exactly.
    if (text.size() != 9 || text.front() != '#')
        return std::nullopt;
    quint32 value = 0;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | quint32(digit);
    }
    return QColor::fromRgb(int(value >> 24), int(value >> 16 & 0xff), int(value >> 8 & 0xff),
                           int(value & 0xff));
}

QString colorText(const QColor &color) {
    return QStringLiteral("#%1%2%3%4")
        .arg(color.red(), 2, 16, QLatin1Char('0'))
        .arg(color.green(), 2, 16, QLatin1Char('0'))
        .arg(color.blue(), 2, 16, QLatin1Char('0'))
        .arg(color.alpha(), 2, 16, QLatin1Char('0'))
        .toUpper();
}

// Reads a drawing file as a stream of JSON events, so the limits stop a hostile file as soon as
// it crosses one, before it has cost more memory than the drawing it claims to be.
class DrawingReader : public nlohmann::json_sax<nlohmann::json> {
public:
    std::optional<InkDrawing> result() {
        if (!m_refusal.isEmpty())
            return std::nullopt;
        if (!m_sawFormat || !m_sawVersion || !m_sawStrokes)
            return refused(QStringLiteral("the format, version or strokes are missing"));
        return InkDrawing(std::move(m_strokes));
    }
    const QString &refusal() const { return m_refusal; }

    bool null() override { return value(Value::other); }
    bool boolean(bool) override { return value(Value::other); }
    bool number_integer(number_integer_t number) override { return numberValue(double(number)); }
    bool number_unsigned(number_unsigned_t number) override { return numberValue(double(number)); }
    bool number_float(number_float_t number, const string_t &) override {
        return numberValue(number);
    }
    bool string(string_t &text) override {
        if (m_skipDepth > 0)
            return true;
        switch (m_place) {
        case Place::rootValue:
            if (m_key == Key::format) {
                m_sawFormat = true;
                if (QString::fromStdString(text) != formatName)
                    return refuse(QStringLiteral("the format is not %1").arg(formatName));
                m_place = Place::root;
                return true;
            }
            break;
        case Place::strokeValue:
            if (m_key == Key::color) {
                const auto color = parseColor(text);
                if (!color)
                    return refuse(QStringLiteral("a stroke colour is not #RRGGBBAA"));
                m_stroke.color = *color;
                m_strokeHas |= hasColor;
                m_place = Place::stroke;
                return true;
            }
            break;
        default:
            break;
        }
        return value(Value::other);
    }
    bool binary(binary_t &) override { return value(Value::other); }

    bool start_object(std::size_t) override {
        if (!nest())
            return false;
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        switch (m_place) {
        case Place::start:
            m_place = Place::root;
            return true;
        case Place::strokes:
            if (m_strokes.size() >= InkDrawing::maximumStrokeCount)
                return refuse(
                    QStringLiteral("more than %1 strokes").arg(InkDrawing::maximumStrokeCount));
            m_stroke = InkStroke();
            m_strokeHas = 0;
            m_place = Place::stroke;
            return true;
        case Place::rootValue:
        case Place::strokeValue:
            if (m_key == Key::unknown) {
                m_skipDepth = 1;
                return true;
            }
            break;
        default:
            break;
        }
        return refuse(QStringLiteral("an object stands where it does not belong"));
    }

    bool end_object() override {
        --m_depth;
        if (m_skipDepth > 0)
            return endSkipped();
        if (m_place == Place::root) {
            m_place = Place::end;
            return true;
        }
        if (m_place == Place::stroke) {
            if (m_strokeHas != (hasColor | hasWidth | hasPoints))
                return refuse(QStringLiteral("a stroke lacks its colour, width or points"));
            m_strokes.append(std::move(m_stroke));
            m_place = Place::strokes;
            return true;
        }
        return refuse(QStringLiteral("an object ends where it does not belong"));
    }

    bool start_array(std::size_t) override {
        if (!nest())
            return false;
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        switch (m_place) {
        case Place::rootValue:
            if (m_key == Key::strokes) {
                if (m_sawStrokes)
                    return refuse(QStringLiteral("the strokes appear twice"));
                m_sawStrokes = true;
                m_place = Place::strokes;
                return true;
            }
            if (m_key == Key::unknown) {
                m_skipDepth = 1;
                return true;
            }
            break;
        case Place::strokeValue:
            if (m_key == Key::points) {
                if (m_strokeHas & hasPoints)
                    return refuse(QStringLiteral("a stroke's points appear twice"));
                m_strokeHas |= hasPoints;
                m_place = Place::points;
                return true;
            }
            if (m_key == Key::unknown) {
                m_skipDepth = 1;
                return true;
            }
            break;
        case Place::points:
            if (++m_pointCount > InkDrawing::maximumPointCount)
                return refuse(
                    QStringLiteral("more than %1 points").arg(InkDrawing::maximumPointCount));
            m_coordinateCount = 0;
            m_place = Place::point;
            return true;
        default:
            break;
        }
        return refuse(QStringLiteral("an array stands where it does not belong"));
    }

    bool end_array() override {
        --m_depth;
        if (m_skipDepth > 0)
            return endSkipped();
        switch (m_place) {
        case Place::strokes:
            m_place = Place::root;
            return true;
        case Place::points:
            m_place = Place::stroke;
            return true;
        case Place::point:
            if (m_coordinateCount != 3)
                return refuse(QStringLiteral("a point is not [x, y, force]"));
            m_stroke.points.append(m_point);
            m_place = Place::points;
            return true;
        default:
            return refuse(QStringLiteral("an array ends where it does not belong"));
        }
    }

    bool key(string_t &name) override {
        if (m_skipDepth > 0)
            return true;
        if (m_place == Place::root) {
            m_key = name == "format"    ? Key::format
                    : name == "version" ? Key::version
                    : name == "strokes" ? Key::strokes
                                        : Key::unknown;
            m_place = Place::rootValue;
            return true;
        }
        if (m_place == Place::stroke) {
            m_key = name == "color"    ? Key::color
                    : name == "width"  ? Key::width
                    : name == "points" ? Key::points
                                       : Key::unknown;
            m_place = Place::strokeValue;
            return true;
        }
        return refuse(QStringLiteral("a member stands where it does not belong"));
    }

    bool parse_error(std::size_t position, const std::string &,
                     const nlohmann::detail::exception &) override {
        if (m_refusal.isEmpty())
            m_refusal = QStringLiteral("it is no JSON (byte %1)").arg(position);
        return false;
    }

private:
    enum class Place { start, root, rootValue, strokes, stroke, strokeValue, points, point, end };
    enum class Key { format, version, strokes, color, width, points, unknown };
    enum class Value { number, other };
    static constexpr int hasColor = 1;
    static constexpr int hasWidth = 2;
    static constexpr int hasPoints = 4;

    bool refuse(const QString &why) {
        if (m_refusal.isEmpty())
            m_refusal = why;
        return false;
    }
    std::optional<InkDrawing> refused(const QString &why) {
        refuse(why);
        return std::nullopt;
    }

    // Members it does not know are passed over, but only as deep as any reader goes.
    bool nest() {
        if (++m_depth > maximumJsonNesting)
            return refuse(QStringLiteral("it nests deeper than %1").arg(maximumJsonNesting));
        return true;
    }

    bool endSkipped() {
        if (--m_skipDepth == 0)
            m_place = m_place == Place::rootValue ? Place::root : Place::stroke;
        return true;
    }

    // A scalar that is not handled by name: skipped when it belongs to an unknown member.
    bool value(Value) {
        if (m_skipDepth > 0)
            return true;
        if ((m_place == Place::rootValue || m_place == Place::strokeValue) &&
            m_key == Key::unknown) {
            m_place = m_place == Place::rootValue ? Place::root : Place::stroke;
            return true;
        }
        return refuse(QStringLiteral("a value has the wrong type"));
    }

    bool numberValue(double number) {
        if (m_skipDepth > 0)
            return true;
        if (m_place == Place::point) {
            if (!std::isfinite(number) || std::abs(number) > InkDrawing::maximumCoordinate)
                return refuse(QStringLiteral("a point value is not finite or beyond ±%1")
                                  .arg(InkDrawing::maximumCoordinate));
            switch (m_coordinateCount++) {
            case 0:
                m_point.x = number;
                return true;
            case 1:
                m_point.y = number;
                return true;
            case 2:
                m_point.force = number;
                return true;
            default:
                return refuse(QStringLiteral("a point is not [x, y, force]"));
            }
        }
        if (m_place == Place::rootValue && m_key == Key::version) {
            if (m_sawVersion)
                return refuse(QStringLiteral("the version appears twice"));
            m_sawVersion = true;
            if (number != formatVersion)
                return refuse(QStringLiteral("the version is not %1").arg(formatVersion));
            m_place = Place::root;
            return true;
        }
        if (m_place == Place::strokeValue && m_key == Key::width) {
            if (!(number > 0 && number <= InkDrawing::maximumWidth))
                return refuse(QStringLiteral("a stroke width is outside (0, %1]")
                                  .arg(InkDrawing::maximumWidth));
            m_stroke.width = number;
            m_strokeHas |= hasWidth;
            m_place = Place::stroke;
            return true;
        }
        return value(Value::number);
    }

    Place m_place = Place::start;
    Key m_key = Key::unknown;
    int m_depth = 0;
    int m_skipDepth = 0;
    bool m_sawFormat = false;
    bool m_sawVersion = false;
    bool m_sawStrokes = false;
    QList<InkStroke> m_strokes;
    InkStroke m_stroke;
    int m_strokeHas = 0;
    InkPoint m_point;
    int m_coordinateCount = 0;
    qsizetype m_pointCount = 0;
    QString m_refusal;
};

} // namespace

std::optional<InkDrawing> InkDrawing::decode(const QByteArray &bytes, QString *whyRefused) {
    const auto refuse = [whyRefused](const QString &why) -> std::optional<InkDrawing> {
        if (whyRefused)
            *whyRefused = why;
        return std::nullopt;
    };
    if (bytes.size() > maximumFileSize)
        return refuse(QStringLiteral("it is larger than %1 bytes").arg(maximumFileSize));
    DrawingReader reader;
    const bool parsed = nlohmann::json::sax_parse(bytes.constBegin(), bytes.constEnd(), &reader,
                                                  nlohmann::json::input_format_t::json, true);
    auto drawing = parsed ? reader.result() : std::nullopt;
    if (!drawing)
        return refuse(reader.refusal().isEmpty() ? QStringLiteral("it is no drawing")
                                                 : reader.refusal());
    return drawing;
}

std::optional<QByteArray> InkDrawing::readFile(const QString &path) {
    try {
        return readRegularFile(path, maximumFileSize);
    } catch (const FileSystemError &error) {
        qCInfo(lcInk) << "Could not read the drawing:" << error.message();
        return std::nullopt;
    }
}

QByteArray InkDrawing::encode() const {
    QJsonArray strokes;
    for (const InkStroke &stroke : m_strokes) {
        QJsonArray points;
        for (const InkPoint &point : stroke.points)
            points.append(QJsonArray{point.x, point.y, point.force});
        strokes.append(QJsonObject{{QStringLiteral("color"), colorText(stroke.color)},
                                   {QStringLiteral("width"), stroke.width},
                                   {QStringLiteral("points"), points}});
    }
    return writeJson(QJsonObject{{QStringLiteral("format"), formatName},
                                 {QStringLiteral("version"), formatVersion},
                                 {QStringLiteral("strokes"), strokes}});
}

QRectF InkDrawing::bounds() const {
    double left = std::numeric_limits<double>::infinity();
    double top = left;
    double right = -left;
    double bottom = -left;
    for (const InkStroke &stroke : m_strokes) {
        for (const InkPoint &point : stroke.points) {
            const double half = inkDrawnWidth(stroke.width, point.force) / 2;
            left = std::min(left, point.x - half);
            top = std::min(top, point.y - half);
            right = std::max(right, point.x + half);
            bottom = std::max(bottom, point.y + half);
        }
    }
    if (left > right)
        return {};
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

InkDrawing InkDrawing::transformed(const QTransform &transform) const {
    const double widthScale = std::sqrt(std::abs(transform.determinant()));
    InkDrawing result(m_strokes);
    for (InkStroke &stroke : result.m_strokes) {
        stroke.width *= widthScale;
        for (InkPoint &point : stroke.points) {
            const QPointF mapped = transform.map(QPointF(point.x, point.y));
            point.x = mapped.x();
            point.y = mapped.y();
        }
    }
    return result;
}

} // namespace velmora
