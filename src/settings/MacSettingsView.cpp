#include "settings/MacSettingsView.h"

#include "book/DiaryGlyphs.h"
#include "book/MacRuledTextView.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/PageLayoutService.h"
#include "settings/MacDataSettingsSection.h"
#include "settings/MacICloudSettingsSection.h"
#include "settings/MacReminderSettingsSection.h"
#include "settings/MacSettingsKit.h"
#include "sync/DiaryCloudSync.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace velmora {

namespace {

constexpr double readingScaleStep = 0.05;

// "Done": white on a leather capsule.
class DoneButton : public QAbstractButton {
public:
    explicit DoneButton(const QString &label, QWidget *parent = nullptr)
        : QAbstractButton(parent) {
        setText(label);
        setFont(settingsGeorgiaFont(14));
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override {
        const QFontMetricsF metrics(font());
        return QSizeF(metrics.horizontalAdvance(text()) + 64, metrics.height() + 20).toSize();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (isDown())
            painter.setOpacity(0.7);
        const QRectF capsule(rect());
        painter.setPen(Qt::NoPen);
        painter.setBrush(settingsTheme().leather());
        painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
        painter.setPen(Qt::white);
        painter.drawText(capsule, Qt::AlignCenter, text());
    }
};

// A writing font's name, and for one this computer lacks, the installed font standing in for it.
QString fontToolTip(const QString &name) {
    const QString family = resolveDiaryFont(name, 13).family();
    if (family.compare(name, Qt::CaseInsensitive) == 0)
        return name;
    return QCoreApplication::translate("MacSettingsView",
                                       "%1 — shown in %2, which stands in for it on this computer")
        .arg(name, family);
}

// The open font list's names, drawn as a list draws them, which ends a name with an ellipsis if
// ever it must (a list drawn as a menu cuts names in their middle), with a menu's room around.
class FontListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        return QStyledItemDelegate::sizeHint(option, index) + QSize(2 * inset, 2 * inset);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem row(option);
        initStyleOption(&row, index);
        const QWidget *list = option.widget;
        (list ? list->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_PanelItemViewItem, &row, painter, list);
        QStyleOptionViewItem name(option);
        name.rect.adjust(inset, 0, -inset, 0);
        QStyledItemDelegate::paint(painter, name, index);
    }

private:
    static constexpr int inset = 4;
};

// The writing fonts, each name set in its own font. No name is ever cut in its middle: the open
// list is as wide as its longest name and ends a name with an ellipsis if ever it is not; the
// picker, at its fixed width, ends a name too long for it with an ellipsis; each tooltip holds
// the name whole.
class FontPicker : public QComboBox {
public:
    FontPicker() {
        setItemDelegate(new FontListDelegate(this));
        view()->setTextElideMode(Qt::ElideRight);
        for (const QString &name : diaryFontNames()) {
            addItem(name, name);
            setItemData(count() - 1, settingsFont(name, 13), Qt::FontRole);
            setItemData(count() - 1, fontToolTip(name), Qt::ToolTipRole);
        }
    }

    // Shows the font without reporting it as chosen.
    void showFont(const QString &name) {
        const QSignalBlocker blocker(this);
        setCurrentIndex(findData(resolvedFontName(name)));
        setFont(settingsFont(currentText(), 13));
        setToolTip(currentData(Qt::ToolTipRole).toString());
    }

    void showPopup() override {
        // The widest name with its margins, as the list's items measure themselves, and the
        // list's frame, with a scroll bar's room to spare.
        view()->setMinimumWidth(view()->sizeHintForColumn(modelColumn()) +
                                2 * view()->frameWidth() +
                                view()->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
        QComboBox::showPopup();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                    QStyle::SC_ComboBoxEditField, this);
        option.currentText =
            fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width() - 2);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }
};

QSlider *makeSlider(int minimum, int maximum) {
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setFixedWidth(100);
    QPalette palette = slider->palette();
    palette.setColor(QPalette::Highlight, settingsTheme().leather());
    slider->setPalette(palette);
    return slider;
}

QWidget *makeSliderControl(QLabel *value, int valueWidth, QSlider *slider) {
    auto *control = new QWidget;
    value->setFixedWidth(valueWidth);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto *layout = new QHBoxLayout(control);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(value);
    layout->addWidget(slider);
    return control;
}

} // namespace

// The sample line in the chosen writing font and size on ruled paper, three lines at the least:
// the lines stand on their rules as the page lays them out, at a point to a pixel like the rest
// of the window.
class MacSettingsWritingPreview : public QWidget {
public:
    explicit MacSettingsWritingPreview(QWidget *parent = nullptr)
        : QWidget(parent) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        setWriting(defaultDiaryFontName,
                   UserDefaultsSettingsStore::defaultFontSizeSetting.fallback);
    }

    void setWriting(const QString &fontName, double size) {
        m_font = settingsFont(fontName, size);
        m_lines =
            DiaryRuledLines::of(QFontMetricsF(m_font), PageLayoutService::ruledLineHeight(size));
        fitHeight();
        update();
    }

    int heightForWidth(int width) const override {
        QTextLayout layout(sampleText(), m_font);
        const int lines = std::max(laidOut(layout, width), shownRules);
        return int(std::ceil(m_lines.ruleBottom(lines - 1))) + 2 * rulesInset;
    }
    QSize sizeHint() const override { return {400, heightForWidth(400)}; }

protected:
    void resizeEvent(QResizeEvent *event) override {
        QWidget::resizeEvent(event);
        fitHeight();
    }

    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF card(rect());
        painter.setPen(Qt::NoPen);
        painter.setBrush(settingsTheme().paper());
        painter.drawRoundedRect(card, 6, 6);
        QTextLayout layout(sampleText(), m_font);
        const int lines = std::max(laidOut(layout, width()), shownRules);
        const QColor rule = withOpacity(settingsTheme().ruledLine(), 0.25);
        for (int line = 0; line < lines; ++line)
            painter.fillRect(
                QRectF(12, rulesInset + m_lines.ruleBottom(line) - 0.5, card.width() - 24, 0.5),
                rule);
        painter.setPen(settingsTheme().ink());
        layout.draw(&painter, QPointF(16, rulesInset));
    }

private:
    static constexpr int shownRules = 3;
    static constexpr int rulesInset = 10;

    // The nested layouts of the scrolling column do not ask for heights by width, so the
    // preview keeps its own height to its wrapped text.
    void fitHeight() {
        const int height = heightForWidth(width() > 100 ? width() : sizeHint().width());
        if (height != minimumHeight())
            setFixedHeight(height);
    }

    static QString sampleText() {
        return QCoreApplication::translate("MacSettingsView",
                                           "The quick brown fox jumps over the lazy dog.");
    }

    // Lays the sample out within the preview's width, each line on its baseline; answers the
    // number of lines.
    int laidOut(QTextLayout &layout, int width) const {
        int count = 0;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(qMax(1, width - 32));
            line.setPosition(QPointF(0, m_lines.baseline(count) - line.ascent()));
            ++count;
        }
        layout.endLayout();
        return count;
    }

    QFont m_font;
    DiaryRuledLines m_lines;
};

namespace {

std::function<bool()> syncEnabledOf(DiaryCloudSync *sync) {
    if (!sync)
        return {};
    return [sync] { return sync->isEnabled(); };
}

} // namespace

MacSettingsView::MacSettingsView(UserDefaultsSettingsStore &store, MacSettingsSections sections,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_controller(store, syncEnabledOf(sections.cloudSync)) {
    setWindowTitle(tr("Settings"));
    setFixedSize(480, 620);
    // Light paper whatever the desktop's scheme.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, settingsTheme().paper());
    palette.setColor(QPalette::Base, settingsTheme().paper());
    palette.setColor(QPalette::WindowText, settingsTheme().ink());
    palette.setColor(QPalette::Text, settingsTheme().ink());
    palette.setColor(QPalette::Button, settingsTheme().paper());
    palette.setColor(QPalette::ButtonText, settingsTheme().ink());
    palette.setColor(QPalette::Highlight, settingsTheme().leather());
    palette.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(makeHeader());
    DiaryCloudSync *sync = sections.cloudSync;
    root->addWidget(makeBody(std::move(sections)), 1);
    root->addWidget(makeBottomBar());

    // As a preferences window on this desktop: Escape (see keyPressEvent) and the close keys put
    // it away, and with every edit already stored that loses nothing.
    auto *closeKeys = new QShortcut(this);
    closeKeys->setKeys(QKeySequence::Close);
    connect(closeKeys, &QShortcut::activated, this, &QWidget::close);

    connect(&m_controller, &MacSettingsController::changed, this, &MacSettingsView::refresh);
    if (sync)
        connect(sync, &DiaryCloudSync::isEnabledChanged, this, &MacSettingsView::refresh);
    refresh();
}

QWidget *MacSettingsView::makeHeader() {
    auto *header = new QWidget;
    auto *layout = new QVBoxLayout(header);
    layout->setContentsMargins(28, 34, 28, 12);
    layout->setSpacing(6);
    layout->addWidget(
        makeSettingsLabel(tr("Settings"), settingsGeorgiaFont(20), settingsTheme().leather()), 0,
        Qt::AlignHCenter);
    layout->addSpacing(2);
    layout->addWidget(new MacOrnamentalDivider, 0, Qt::AlignHCenter);
    layout->addSpacing(4);
    m_storage = makeSettingsLabel(QString(), settingsGeorgiaFont(11, true),
                                  withOpacity(settingsTheme().ink(), 0.4));
    layout->addWidget(m_storage, 0, Qt::AlignHCenter);
    return header;
}

QWidget *MacSettingsView::makeBody(MacSettingsSections sections) {
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroll->setWidgetResizable(true);
    auto *body = new QWidget;
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(32, 8, 32, 24);
    layout->setSpacing(32);

    auto *profile = new MacSettingsSection(tr("Profile"));
    m_name = new MacSettingsTextField(tr("Your name"));
    connect(m_name, &QLineEdit::textEdited, &m_controller, &MacSettingsController::setUserName);
    profile->addContent(new MacSettingsRow(tr("Name"), m_name));
    layout->addWidget(profile);
    layout->addWidget(makeWritingSection());
    if (sections.reminders) {
        m_reminderSection = new MacReminderSettingsSection(
            *sections.reminders,
            sections.openNotificationSettings
                ? std::move(sections.openNotificationSettings)
                : MacReminderSettingsController::desktopNotificationSettings());
        layout->addWidget(m_reminderSection);
    }
    layout->addWidget(makeSecuritySection());
    if (sections.cloudSync) {
        m_syncSection =
            new MacICloudSettingsSection(*sections.cloudSync, std::move(sections.syncFolder));
        layout->addWidget(m_syncSection);
    }
    if (sections.data) {
        m_dataSection = new MacDataSettingsSection(std::move(*sections.data));
        layout->addWidget(m_dataSection);
    }
    layout->addWidget(makeAboutLine());
    layout->addStretch(1);
    scroll->setWidget(body);
    return scroll;
}

QWidget *MacSettingsView::makeWritingSection() {
    auto *section = new MacSettingsSection(tr("Writing"));

    m_font = new FontPicker;
    m_font->setFixedWidth(165);
    connect(m_font, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            m_controller.setDefaultFont(m_font->itemData(index).toString());
    });
    section->addContent(new MacSettingsRow(tr("Font"), m_font));

    const QColor valueColor = withOpacity(settingsTheme().leather(), 0.7);
    m_sizeText = makeSettingsLabel(QString(), settingsMonospacedFont(11), valueColor);
    m_size = makeSlider(int(UserDefaultsSettingsStore::minimumBodyPointSize),
                        int(UserDefaultsSettingsStore::maximumBodyPointSize));
    connect(m_size, &QSlider::valueChanged, this,
            [this](int value) { m_controller.setDefaultFontSize(value); });
    section->addContent(new MacSettingsRow(tr("Size"), makeSliderControl(m_sizeText, 20, m_size)));

    m_readingSizeText = makeSettingsLabel(QString(), settingsMonospacedFont(11), valueColor);
    const int positions = int(std::lround((UserDefaultsSettingsStore::maximumReadingScale -
                                           UserDefaultsSettingsStore::minimumReadingScale) /
                                          readingScaleStep));
    m_readingSize = makeSlider(0, positions);
    connect(m_readingSize, &QSlider::valueChanged, this, [this](int position) {
        m_controller.setReadingScale(UserDefaultsSettingsStore::minimumReadingScale +
                                     position * readingScaleStep);
    });
    section->addContent(new MacSettingsRow(
        tr("Reading size"), makeSliderControl(m_readingSizeText, 36, m_readingSize)));

    m_reopens = new MacSettingsSwitch;
    connect(m_reopens, &QAbstractButton::toggled, &m_controller,
            &MacSettingsController::setReopensLastPage);
    section->addContent(makeSettingsToggleRow(
        tr("Open to the last page"),
        makeSettingsCaption(tr("Otherwise the diary always opens on today.")), m_reopens));

    m_preview = new MacSettingsWritingPreview;
    auto *previewHolder = new QWidget;
    auto *holderLayout = new QVBoxLayout(previewHolder);
    holderLayout->setContentsMargins(0, 4, 0, 0);
    holderLayout->addWidget(m_preview);
    section->addContent(previewHolder);
    return section;
}

QWidget *MacSettingsView::makeSecuritySection() {
    auto *section = new MacSettingsSection(tr("Security"));
    m_requireAuthentication = new MacSettingsSwitch;
    connect(m_requireAuthentication, &QAbstractButton::toggled, &m_controller,
            &MacSettingsController::setRequireAuthentication);
    section->addContent(
        makeSettingsToggleRow(tr("Require Authentication"),
                              makeSettingsCaption(MacSettingsController::authenticationKindText()),
                              m_requireAuthentication));
    return section;
}

QWidget *MacSettingsView::makeAboutLine() {
    auto *line = new QWidget;
    auto *layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->setSpacing(10);
    auto *symbol = new QLabel;
    const DiaryGlyph book(DiaryGlyphSymbol::book);
    const QSizeF glyphSize = book.sizeForPointSize(16);
    // Drawn at twice the size so it stays sharp on dense screens.
    QPixmap pixmap((glyphSize * 2).toSize());
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        book.paint(painter, QRectF(QPointF(0, 0), glyphSize),
                   withOpacity(settingsTheme().leather(), 0.4));
    }
    symbol->setPixmap(pixmap);
    layout->addWidget(symbol);
    layout->addWidget(makeSettingsLabel(QStringLiteral("Velmora"), settingsGeorgiaFont(12),
                                        withOpacity(settingsTheme().ink(), 0.5)));
    layout->addWidget(makeSettingsLabel(QStringLiteral("·"), settingsSystemFont(11),
                                        withOpacity(settingsTheme().ink(), 0.4)));
    layout->addWidget(makeSettingsLabel(MacSettingsController::versionText(),
                                        settingsSystemFont(11),
                                        withOpacity(settingsTheme().ink(), 0.4)));
    layout->addStretch(1);
    return line;
}

QWidget *MacSettingsView::makeBottomBar() {
    auto *bar = new QWidget;
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(32, 12, 32, 12);
    layout->addStretch(1);
    auto *done = new DoneButton(tr("Done"));
    m_done = done;
    connect(done, &QAbstractButton::clicked, this, &QWidget::close);
    layout->addWidget(done);
    return bar;
}

QWidget *MacSettingsView::writingPreview() const {
    return m_preview;
}

void MacSettingsView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_controller.load();
    if (m_reminderSection)
        m_reminderSection->appear();
    if (m_dataSection)
        m_dataSection->appear();
}

// Escape is a key the window is left with, not a shortcut: a shortcut of the window fires even
// while the font list is open over it, and put the window away under the list; the key reaches
// the window only when nothing open above it has taken it.
void MacSettingsView::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Cancel))
        close();
    else
        QWidget::keyPressEvent(event);
}

void MacSettingsView::refresh() {
    m_storage->setText(m_controller.storageLine());
    if (m_name->text() != m_controller.userName()) {
        const QSignalBlocker blocker(m_name);
        m_name->setText(m_controller.userName());
    }
    static_cast<FontPicker *>(m_font)->showFont(m_controller.defaultFont());
    {
        const QSignalBlocker blocker(m_size);
        m_size->setValue(int(m_controller.defaultFontSize()));
    }
    m_sizeText->setText(m_controller.sizeText());
    {
        const QSignalBlocker blocker(m_readingSize);
        m_readingSize->setValue(int(std::lround(
            (m_controller.readingScale() - UserDefaultsSettingsStore::minimumReadingScale) /
            readingScaleStep)));
    }
    m_readingSizeText->setText(m_controller.readingSizeText());
    {
        const QSignalBlocker blocker(m_reopens);
        m_reopens->setChecked(m_controller.reopensLastPage());
    }
    {
        const QSignalBlocker blocker(m_requireAuthentication);
        m_requireAuthentication->setChecked(m_controller.requireAuthentication());
    }
    m_preview->setWriting(m_controller.defaultFont(), m_controller.defaultFontSize());
}

} // namespace velmora
