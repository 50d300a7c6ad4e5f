#include "VelloraCompanion/Qt/WelcomeView.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>
#include <QWidget>
#include <utility>

namespace vellora {

namespace {

using ActionHandler = std::function<void(CompanionAction)>;

// Layout of the window, in logical pixels (the Mac's points).
constexpr int kTopMargin = 48;
constexpr int kBottomMargin = 28;
constexpr int kStackSpacing = 16;
constexpr int kIconSize = 92;
constexpr int kCardSpacing = 12;
constexpr int kCardRadius = 14;
constexpr int kCompleteCardHeight = 64;
constexpr int kOpenCardMinimumHeight = 112;
constexpr int kBadgeSize = 28;
constexpr int kBadgeInset = 18;
constexpr int kColumnGap = 14;
constexpr int kTrailingInset = 18;
constexpr int kColumnVerticalInset = 16;
constexpr int kTextWidth = 270;
constexpr int kFooterSpacing = 10;

QFont systemFont(int pixelSize, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPixelSize(pixelSize);
  font.setWeight(weight);
  return font;
}

QColor labelColor(qreal alpha) {
  QColor color = QApplication::palette().color(QPalette::WindowText);
  color.setAlphaF(alpha);
  return color;
}

QColor primaryLabelColor() {
  return labelColor(0.85);
}
QColor secondaryLabelColor() {
  return labelColor(0.5);
}
QColor tertiaryLabelColor() {
  return labelColor(0.26);
}
// The palette's link colour, kept readable in the dark appearance: a palette that darkens the
// window but keeps the default dark blue link gets the dark appearance's brighter blue.
QColor linkColor() {
  const QColor link = QApplication::palette().color(QPalette::Link);
  if (isDarkAppearance() && qGray(link.rgb()) < 90) return QColor(10, 132, 255);
  return link;
}
QColor systemGreen() {
  return isDarkAppearance() ? QColor(48, 209, 88) : QColor(52, 199, 89);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, const char* name) {
  auto* label = new QLabel(text);
  label->setObjectName(name);
  label->setFont(font);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, color);
  label->setPalette(palette);
  return label;
}

QPushButton* makeButton(const std::string& title, CompanionAction action, bool enabled,
                        const QFont& font, const ActionHandler& onAction) {
  auto* button = new QPushButton(QString::fromStdString(title));
  button->setFont(font);
  button->setEnabled(enabled);
  button->setAutoDefault(false);
  QObject::connect(button, &QPushButton::clicked, button, [onAction, action] { onAction(action); });
  return button;
}

// The whole view: the window background colour at 78 % over the window.
class ContentView final : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QColor background = palette().color(QPalette::Window);
    background.setAlphaF(0.78);
    painter.fillRect(rect(), background);
  }
};

// A step's card: a rounded rectangle in the appearance's card colour.
class StepCard final : public QWidget {
 public:
  explicit StepCard(bool isComplete) : isComplete_(isComplete) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill;
    if (isDarkAppearance()) {
      const qreal brightness = isComplete_ ? 0.36 : 0.40;
      fill = QColor::fromRgbF(brightness, brightness, brightness, 0.58);
    } else {
      fill = palette().color(QPalette::Base);
      fill.setAlphaF(isComplete_ ? 0.42 : 0.62);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()), kCardRadius, kCardRadius);
  }

 private:
  bool isComplete_;
};

// The round badge: a white check on green when complete, else the number on a faint circle.
class StepBadge final : public QWidget {
 public:
  StepBadge(int number, bool isComplete) : number_(number), isComplete_(isComplete) {
    setFixedSize(kBadgeSize, kBadgeSize);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor circle = isComplete_ ? systemGreen() : tertiaryLabelColor();
    if (!isComplete_) circle.setAlphaF(circle.alphaF() * 0.25);
    painter.setBrush(circle);
    painter.drawEllipse(QRectF(rect()));
    painter.setPen(isComplete_ ? QColor(Qt::white) : primaryLabelColor());
    painter.setFont(systemFont(14, QFont::DemiBold));
    // The text's centre sits half a point above the badge's.
    painter.drawText(QRectF(rect()).translated(0, -0.5), Qt::AlignCenter,
                     isComplete_ ? QString::fromUtf8("\u2713") : QString::number(number_));
  }

 private:
  int number_;
  bool isComplete_;
};

QWidget* makeInstructions(const WelcomeContent& content, int stepNumber,
                          const ActionHandler& onAction) {
  auto* column = new QWidget;
  column->setObjectName(QString("stepInstructions%1").arg(stepNumber));
  column->setFixedWidth(kTextWidth);
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  const QFont font = systemFont(13, QFont::Normal);
  for (const WelcomeInstructionLine& line : content.loadingInstructions) {
    QLabel* text =
        makeLabel(QString::fromStdString(line.text), font, primaryLabelColor(), "instruction");
    text->setWordWrap(true);
    text->setMaximumHeight(2 * text->fontMetrics().lineSpacing());
    if (!line.linkTitle || !line.linkAction) {
      layout->addWidget(text);
      continue;
    }
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    row->setContentsMargins(0, 0, 0, 0);
    text->setWordWrap(false);
    row->addWidget(text, 0, Qt::AlignBaseline);
    QPushButton* link = makeButton(*line.linkTitle, *line.linkAction, true, font, onAction);
    link->setObjectName("extensionsLink");
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setStyleSheet(
        QString("QPushButton { border: none; padding: 0; color: %1; }").arg(linkColor().name()));
    row->addWidget(link, 0, Qt::AlignBaseline);
    row->addStretch(1);
    layout->addLayout(row);
  }
  return column;
}

QWidget* makeActionRow(const WelcomeStep& step, const ActionHandler& onAction) {
  auto* row = new QWidget;
  row->setFixedWidth(kTextWidth);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  for (const WelcomeStepAction& action : step.actions) {
    QPushButton* button =
        makeButton(action.title, action.action, true, systemFont(11, QFont::Medium), onAction);
    button->setObjectName(QString("stepAction%1").arg(step.number));
    layout->addWidget(button, 1);
  }
  return row;
}

QWidget* makeCard(const WelcomeContent& content, const WelcomeStep& step, WelcomeCardBody body,
                  const ActionHandler& onAction) {
  auto* card = new StepCard(step.isComplete);
  card->setObjectName(QString("stepCard%1").arg(step.number));
  card->setFixedWidth(static_cast<int>(WelcomeContent::kStepWidth));
  card->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

  auto* layout = new QHBoxLayout(card);
  layout->setSpacing(kColumnGap);
  auto* badge = new StepBadge(step.number, step.isComplete);
  badge->setObjectName(QString("stepBadge%1").arg(step.number));

  const QFont titleFont = systemFont(16, QFont::DemiBold);
  QLabel* title = makeLabel(QString(), titleFont, primaryLabelColor(), "");
  title->setObjectName(QString("stepTitle%1").arg(step.number));
  const int columnWidth = static_cast<int>(WelcomeContent::kStepWidth) - kBadgeInset - kBadgeSize -
                          kColumnGap - kTrailingInset;
  title->setText(title->fontMetrics().elidedText(QString::fromStdString(step.title), Qt::ElideRight,
                                                 columnWidth));
  title->setToolTip(QString::fromStdString(step.title));

  if (body == WelcomeCardBody::titleOnly) {
    // The title alone, centred on the badge.
    layout->setContentsMargins(kBadgeInset, kBadgeInset, kTrailingInset, kBadgeInset);
    layout->addWidget(badge, 0, Qt::AlignVCenter);
    title->setFixedHeight(kBadgeSize);
    layout->addWidget(title, 1, Qt::AlignVCenter);
    card->setFixedHeight(kCompleteCardHeight);
    return card;
  }

  layout->setContentsMargins(kBadgeInset, kColumnVerticalInset, kTrailingInset,
                             kColumnVerticalInset);
  auto* badgeColumn = new QVBoxLayout;
  badgeColumn->setContentsMargins(0, kBadgeInset - kColumnVerticalInset, 0, 0);
  badgeColumn->addWidget(badge);
  badgeColumn->addStretch(1);
  layout->addLayout(badgeColumn);

  auto* column = new QVBoxLayout;
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(step.actions.empty() ? 4 : 9);
  column->addWidget(title);
  if (body == WelcomeCardBody::loadingInstructions) {
    column->addWidget(makeInstructions(content, step.number, onAction));
  } else {
    QLabel* detail = makeLabel(QString::fromStdString(step.detail), systemFont(13, QFont::Normal),
                               primaryLabelColor(), "");
    detail->setObjectName(QString("stepDetail%1").arg(step.number));
    detail->setWordWrap(true);
    detail->setFixedWidth(kTextWidth);
    const int maximumLines = step.number == 3 ? 6 : 4;
    detail->setMaximumHeight(maximumLines * detail->fontMetrics().lineSpacing());
    column->addWidget(detail);
  }
  if (!step.actions.empty()) column->addWidget(makeActionRow(step, onAction));
  column->addStretch(1);
  layout->addLayout(column, 1);

  const int needed = layout->hasHeightForWidth()
                         ? layout->heightForWidth(static_cast<int>(WelcomeContent::kStepWidth))
                         : layout->sizeHint().height();
  card->setFixedHeight(std::max(kOpenCardMinimumHeight, needed));
  return card;
}

QWidget* makeFooter(const WelcomeContent& content, const ActionHandler& onAction) {
  auto* footer = new QWidget;
  footer->setObjectName("footer");
  footer->setFixedWidth(static_cast<int>(WelcomeContent::kStepWidth));
  auto* column = new QVBoxLayout(footer);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(kFooterSpacing);
  const QFont font = systemFont(13, QFont::Medium);
  auto large = [](QPushButton* button) {
    button->setMinimumHeight(32);
    return button;
  };
  if (content.openChromeButton) {
    const WelcomeButton& b = *content.openChromeButton;
    QPushButton* open = large(makeButton(b.title, b.action, b.enabled, font, onAction));
    open->setObjectName("openChromeButton");
    column->addWidget(open);
  }
  auto* row = new QHBoxLayout;
  row->setSpacing(kFooterSpacing);
  const WelcomeButton& fix = content.fixBrowserButton;
  QPushButton* fixButton = large(makeButton(fix.title, fix.action, fix.enabled, font, onAction));
  fixButton->setObjectName("fixBrowserButton");
  const WelcomeButton& refresh = content.refreshButton;
  QPushButton* refreshButton =
      large(makeButton(refresh.title, refresh.action, refresh.enabled, font, onAction));
  refreshButton->setObjectName("refreshButton");
  row->addWidget(fixButton, 1);
  row->addWidget(refreshButton, 1);
  if (content.quitButton) {
    const WelcomeButton& b = *content.quitButton;
    QPushButton* quit = large(makeButton(b.title, b.action, b.enabled, font, onAction));
    quit->setObjectName("quitButton");
    row->addWidget(quit, 0);
  }
  column->addLayout(row);
  return footer;
}

}  // namespace

bool isDarkAppearance() {
  const QPalette palette = QApplication::palette();
  return palette.color(QPalette::Window).lightness() <
         palette.color(QPalette::WindowText).lightness();
}

QWidget* makeWelcomeView(const WelcomeContent& content, const QIcon& appIcon,
                         std::function<void(CompanionAction)> onAction) {
  auto* view = new ContentView;
  view->setObjectName("welcomeContent");
  view->setFixedSize(static_cast<int>(WelcomeContent::kWindowWidth),
                     static_cast<int>(WelcomeContent::kWindowHeight));
  const int sideMargin =
      static_cast<int>((WelcomeContent::kWindowWidth - WelcomeContent::kContentWidth) / 2);
  auto* stack = new QVBoxLayout(view);
  // The bottom margin gives way before any card is squeezed: with the loading instructions
  // shown, the cards need more than 700 points less the margins in a wide font.
  stack->setContentsMargins(sideMargin, kTopMargin, sideMargin, 0);
  stack->setSpacing(kStackSpacing);

  auto* icon = new QLabel;
  icon->setObjectName("appIcon");
  icon->setFixedSize(kIconSize, kIconSize);
  icon->setPixmap(appIcon.pixmap(QSize(kIconSize, kIconSize)));
  icon->setScaledContents(true);
  stack->addWidget(icon, 0, Qt::AlignHCenter);

  QLabel* title = makeLabel(QString::fromStdString(content.title), systemFont(30, QFont::Medium),
                            primaryLabelColor(), "title");
  title->setAlignment(Qt::AlignHCenter);
  stack->addWidget(title);

  QLabel* subtitle = makeLabel(QString::fromStdString(content.subtitle),
                               systemFont(16, QFont::Normal), secondaryLabelColor(), "subtitle");
  subtitle->setAlignment(Qt::AlignHCenter);
  subtitle->setWordWrap(true);
  subtitle->setMaximumHeight(2 * subtitle->fontMetrics().lineSpacing());
  stack->addWidget(subtitle);

  auto* separator = new QFrame;
  separator->setObjectName("separator");
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  separator->setFixedWidth(static_cast<int>(WelcomeContent::kContentWidth));
  stack->addWidget(separator);

  auto* cards = new QWidget;
  cards->setObjectName("steps");
  cards->setFixedWidth(static_cast<int>(WelcomeContent::kStepWidth));
  auto* cardStack = new QVBoxLayout(cards);
  cardStack->setContentsMargins(0, 0, 0, 0);
  cardStack->setSpacing(kCardSpacing);
  for (std::size_t i = 0; i < content.steps.size(); ++i) {
    const WelcomeCardBody body =
        i < content.cardBodies.size() ? content.cardBodies[i] : WelcomeCardBody::detail;
    cardStack->addWidget(makeCard(content, content.steps[i], body, onAction), 0, Qt::AlignLeft);
  }
  stack->addWidget(cards, 0, Qt::AlignHCenter);
  stack->addWidget(makeFooter(content, onAction), 0, Qt::AlignHCenter);
  stack->addStretch(1);
  stack->addSpacerItem(
      new QSpacerItem(0, kBottomMargin, QSizePolicy::Minimum, QSizePolicy::Expanding));
  return view;
}

}  // namespace vellora
