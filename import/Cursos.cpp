#include "Cursos.h"

#include "AyudaAplicacion.h"
#include "CodePage.h"
#include "ControlCursos.h"
#include "DbfTable.h"
#include "PanelDegradado.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <algorithm>
#include <utility>

namespace zendral
{
namespace
{

constexpr std::array<const char*, ModeloCursos::kColumnas> kCampos = {"CODI", "DESCRIPCIO", "NIVEL", "CURSO"};
// Width of each column in characters, and its title.
constexpr std::array<int, ModeloCursos::kColumnas> kCaracteres = {10, 40, 5, 3};
const std::array<QString, ModeloCursos::kColumnas> kTitulos = {
    QStringLiteral("CÓD.GESTIB"), QStringLiteral("DESCRIPCIÓN"), QStringLiteral("NIVEL"),
    QStringLiteral("CURSO")};

// The windowing library's named colours.
const QColor kAmarillo(0xFF, 0xFF, 0x00);
const QColor kAzul(0x00, 0x00, 0xFF);
const QColor kCrema(0xFF, 0xFB, 0xF0);
const QColor kBlanco(0xFF, 0xFF, 0xFF);
const QColor kRojo(0xFF, 0x00, 0x00);
const QColor kGranate(0x80, 0x00, 0x00);
const QColor kPurpura(0x80, 0x00, 0x80);
const QColor kMarino(0x00, 0x00, 0x80);

bool Editando(const dbf::Table& t)
{
    return t.Active() &&
           (t.CurrentState() == dbf::Table::State::Edit || t.CurrentState() == dbf::Table::State::Insert);
}

QString DesdeTabla(const std::string& ansi) { return QString::fromStdString(cp1252::ToUtf8(ansi)); }

// "MS Sans Serif" at 11 pixels; where it is missing, the metric-compatible Arial substitute.
QFont FuenteDialogo()
{
    QFont f;
    f.setFamilies(
        {QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    f.setPixelSize(11);
    return f;
}

// The grid's titles and the buttons' captions.
QFont FuenteNegrita()
{
    QFont f = FuenteDialogo();
    f.setBold(true);
    return f;
}

struct Aspecto
{
    QColor color;
    int pixeles = 0; // 0: the dialog's size
    bool subrayado = false;
    bool ajustar = false;
    bool centrado = false;
    QColor fondo; // invalid: transparent
};

// A bold label at x, y; sized to its text unless a width and height are given.
QLabel* Etiqueta(QWidget* padre, const char* nombre, const QString& texto, const Aspecto& a, int x, int y,
                 int ancho = 0, int alto = 0)
{
    auto* l = new QLabel(padre);
    l->setObjectName(QString::fromLatin1(nombre));
    l->setTextFormat(Qt::PlainText);
    l->setText(texto);
    QFont f = FuenteDialogo();
    f.setBold(true);
    f.setUnderline(a.subrayado);
    if (a.pixeles != 0) {
        f.setPixelSize(a.pixeles);
    }
    l->setFont(f);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, a.color);
    if (a.fondo.isValid()) {
        p.setColor(QPalette::Window, a.fondo);
        l->setAutoFillBackground(true);
    }
    l->setPalette(p);
    l->setWordWrap(a.ajustar);
    l->setAlignment(Qt::AlignTop | (a.centrado ? Qt::AlignHCenter : Qt::AlignLeft));
    if (ancho > 0) {
        l->setGeometry(x, y, ancho, alto);
    } else {
        l->adjustSize();
        l->move(x, y);
    }
    return l;
}

// The cell editor: a line no longer than the field, and Enter moving on as Tab does.
class DelegadoCursos : public QStyledItemDelegate
{
public:
    explicit DelegadoCursos(QObject* parent)
        : QStyledItemDelegate(parent)
    {
    }

    QWidget* Editor() const { return m_editor; }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override
    {
        auto* editor = new QLineEdit(parent);
        editor->setFrame(false);
        const auto* modelo = qobject_cast<const ModeloCursos*>(index.model());
        const int ancho = modelo != nullptr ? modelo->Ancho(index.column()) : 0;
        if (ancho > 0) {
            editor->setMaxLength(ancho);
        }
        if (auto* grid = qobject_cast<CursosTDBGrid*>(this->parent())) {
            const int fila = index.row();
            connect(editor, &QLineEdit::textEdited, grid, [grid, fila] { emit grid->Escribiendo(fila); });
        }
        m_editor = editor;
        return editor;
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override
    {
        if (editor == m_editor) {
            m_editor = nullptr;
        }
        QStyledItemDelegate::destroyEditor(editor, index);
    }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override
    {
        if (evento->type() == QEvent::KeyPress) {
            const auto* tecla = static_cast<QKeyEvent*>(evento);
            const bool intro = tecla->key() == Qt::Key_Return || tecla->key() == Qt::Key_Enter;
            if (intro && (tecla->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
                auto* editor = qobject_cast<QWidget*>(objeto);
                emit commitData(editor);
                emit closeEditor(editor, QAbstractItemDelegate::EditNextItem);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(objeto, evento);
    }

private:
    mutable QPointer<QWidget> m_editor;
};

} // namespace

// ---- ModeloCursos -----------------------------------------------------------------------------

ModeloCursos::ModeloCursos(dbf::Table& tabla, Proteger proteger, QObject* parent)
    : QAbstractTableModel(parent)
    , m_tabla(tabla)
    , m_proteger(std::move(proteger))
{
}

ModeloCursos::Fila ModeloCursos::LeerFila()
{
    Fila fila;
    for (std::size_t c = 0; c < kCampos.size(); ++c) {
        fila[c] = DesdeTabla(m_tabla.FieldByName(kCampos[c]).AsString());
    }
    return fila;
}

void ModeloCursos::Cargar()
{
    std::array<int, kColumnas> anchos{};
    for (const auto& info : m_tabla.Fields()) {
        for (std::size_t c = 0; c < kCampos.size(); ++c) {
            if (info.name == kCampos[c]) {
                anchos[c] = info.width;
            }
        }
    }
    QVector<Fila> filas;
    for (m_tabla.First(); !m_tabla.Eof(); m_tabla.Next()) {
        filas.push_back(LeerFila());
    }
    m_tabla.First();
    beginResetModel();
    m_filas = std::move(filas);
    m_anchos = anchos;
    endResetModel();
}

int ModeloCursos::FilaActual() const
{
    if (!m_tabla.Active() || m_filas.isEmpty()) {
        return -1;
    }
    if (m_tabla.CurrentState() == dbf::Table::State::Insert) {
        return static_cast<int>(m_filas.size()) - 1;
    }
    const auto pos = m_tabla.Position();
    return pos < static_cast<std::size_t>(m_filas.size()) ? static_cast<int>(pos) : -1;
}

void ModeloCursos::IrAFila(int fila)
{
    if (!m_tabla.Active() || fila < 0 || fila >= rowCount() || fila == FilaActual()) {
        return;
    }
    // Leaving a record saves it, an appended one included.
    if (Editando(m_tabla)) {
        m_tabla.Post();
        Sincronizar();
    }
    m_tabla.First();
    m_tabla.MoveBy(fila);
}

void ModeloCursos::Sincronizar()
{
    if (!m_tabla.Active()) {
        return;
    }
    const bool insertando = m_tabla.CurrentState() == dbf::Table::State::Insert;
    const int filas = static_cast<int>(m_tabla.RecordCount()) + (insertando ? 1 : 0);
    const int tengo = static_cast<int>(m_filas.size());
    if (filas > tengo) {
        beginInsertRows({}, tengo, filas - 1);
        m_filas.resize(filas);
        endInsertRows();
    } else if (filas < tengo) {
        beginRemoveRows({}, filas, tengo - 1);
        m_filas.resize(filas);
        endRemoveRows();
    }
    const int actual = FilaActual();
    if (actual >= 0) {
        m_filas[actual] = LeerFila();
        emit dataChanged(index(actual, 0), index(actual, kColumnas - 1));
    }
}

int ModeloCursos::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_filas.size());
}

int ModeloCursos::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnas; }

QVariant ModeloCursos::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    return m_filas[index.row()][static_cast<std::size_t>(index.column())];
}

QVariant ModeloCursos::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnas) {
        return {};
    }
    return kTitulos[static_cast<std::size_t>(section)];
}

Qt::ItemFlags ModeloCursos::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if ((index.column() == kNivel || index.column() == kCurso) && m_tabla.Active()) {
        f |= Qt::ItemIsEditable;
    }
    return f;
}

bool ModeloCursos::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) {
        return false;
    }
    const int fila = index.row();
    const auto columna = static_cast<std::size_t>(index.column());
    const QString texto = value.toString();
    // An editor closed without a change touches nothing.
    if (texto == m_filas[fila][columna]) {
        return true;
    }
    return m_proteger([&] {
        IrAFila(fila);
        if (!Editando(m_tabla)) {
            m_tabla.Edit();
        }
        dbf::Field campo = m_tabla.FieldByName(kCampos[columna]);
        campo.SetAsString(cp1252::FromUtf8ForTable(texto.toStdString()));
        m_filas[fila][columna] = DesdeTabla(campo.AsString());
        emit dataChanged(index, index);
    });
}

// ---- CursosTDBGrid ----------------------------------------------------------------------------

CursosTDBGrid::CursosTDBGrid(QWidget* parent)
    : QTableView(parent)
{
    setItemDelegate(new DelegadoCursos(this));
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(true);
    setWordWrap(false);
    setAlternatingRowColors(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalHeader()->hide();
}

void CursosTDBGrid::CerrarEditor(bool guardar)
{
    QWidget* editor = static_cast<DelegadoCursos*>(itemDelegate())->Editor();
    if (editor == nullptr) {
        return;
    }
    if (guardar) {
        commitData(editor);
    }
    closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void CursosTDBGrid::keyPressEvent(QKeyEvent* event)
{
    const bool intro = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (intro && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        focusNextPrevChild(true);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool CursosTDBGrid::EnBorde(bool next) const
{
    const QModelIndex actual = currentIndex();
    if (model() == nullptr || !actual.isValid()) {
        return true;
    }
    if (next) {
        return actual.row() == model()->rowCount() - 1 && actual.column() == model()->columnCount() - 1;
    }
    return actual.row() == 0 && actual.column() == 0;
}

bool CursosTDBGrid::focusNextPrevChild(bool next)
{
    if (EnBorde(next)) {
        // Past the grid's edge the focus goes on to the buttons, as it does between other controls.
        return QWidget::focusNextPrevChild(next);
    }
    return QTableView::focusNextPrevChild(next);
}

void CursosTDBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    const bool siguiente = hint == QAbstractItemDelegate::EditNextItem;
    if ((siguiente || hint == QAbstractItemDelegate::EditPreviousItem) && EnBorde(siguiente)) {
        // Tab or Enter in the last cell's editor: the text is kept and the focus leaves the grid.
        QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
        QWidget::focusNextPrevChild(siguiente);
        return;
    }
    QTableView::closeEditor(editor, hint);
}

// ---- BotonAjustado ----------------------------------------------------------------------------

void BotonAjustado::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionButton opcion;
    initStyleOption(&opcion);
    const QString texto = opcion.text;
    opcion.text.clear();
    p.drawControl(QStyle::CE_PushButton, opcion);
    const QRect r = style()->subElementRect(QStyle::SE_PushButtonContents, &opcion, this);
    p.setPen(palette().color(QPalette::ButtonText));
    p.drawText(r, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, texto);
}

// ---- TControlCursos ---------------------------------------------------------------------------

TControlCursos::TControlCursos(ControlCursos& control, AyudaAplicacion& ayuda, QWidget* owner)
    : QDialog(owner)
    , m_control(control)
{
    setObjectName(QStringLiteral("ControlCursos"));
    setWindowTitle(QStringLiteral("Asignación de Niveles y Cursos"));
    // A fixed dialog frame whose only button is the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(672, 499);
    move(283, 200);
    setFont(FuenteDialogo());
    setProperty(kPropiedadContexto, IDH_CURSOS);

    m_draw3D1 = new PanelDegradado(kRojo, kAmarillo, kRojo, this);
    m_draw3D1->setObjectName(QStringLiteral("Draw3D1"));
    m_draw3D1->setGeometry(1, 1, 669, 496);
    m_draw3D1->setProperty(kPropiedadContexto, IDH_CURSOS);

    CrearGrid();
    CrearNavegador();
    CrearTextosYBotones();
    Conectar(ayuda);
}

void TControlCursos::CrearGrid()
{
    // First in the tab order, so it has the focus when the dialog opens.
    m_grid = new CursosTDBGrid(m_draw3D1);
    m_grid->setObjectName(QStringLiteral("CursosTDBGrid"));
    m_grid->setGeometry(7, 56, 448, 433);
    m_grid->setProperty(kPropiedadContexto, IDH_CURSOS);
    QPalette colores = m_grid->palette();
    colores.setColor(QPalette::Base, QColor(0xF0, 0xFB, 0xFF));
    colores.setColor(QPalette::AlternateBase, QColor(0xCF, 0xD9, 0xFE));
    m_grid->setPalette(colores);
    const QFont negrita = FuenteNegrita();
    QHeaderView* titulos = m_grid->horizontalHeader();
    titulos->setFont(negrita);
    titulos->setStyleSheet(
        QStringLiteral("QHeaderView::section { background-color: #FEE4A9; font-weight: bold; "
                       "padding-left: 2px; border: 0px; border-right: 1px solid #808080; "
                       "border-bottom: 1px solid #808080; }"));
    titulos->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titulos->setHighlightSections(false);
    titulos->setFixedHeight(2 * QFontMetrics(negrita).lineSpacing() + 6);
    m_grid->verticalHeader()->setDefaultSectionSize(QFontMetrics(FuenteDialogo()).lineSpacing() + 6);

    m_modelo = new ModeloCursos(
        m_control.Tabla(), [this](const std::function<void()>& accion) { return Proteger(accion); }, this);
    m_modelo->Cargar();
    m_grid->setModel(m_modelo);
    // A column is as wide as its characters, and never narrower than its title.
    const QFontMetrics cifras(FuenteDialogo());
    const QFontMetrics titulo(negrita);
    for (int c = 0; c < ModeloCursos::kColumnas; ++c) {
        const auto i = static_cast<std::size_t>(c);
        const int ancho = std::max(kCaracteres[i] * cifras.horizontalAdvance(QLatin1Char('0')) + 4,
                                   titulo.horizontalAdvance(kTitulos[i]) + 8);
        m_grid->setColumnWidth(c, ancho);
    }
}

void TControlCursos::CrearNavegador()
{
    m_navegador = new QWidget(m_draw3D1);
    m_navegador->setObjectName(QStringLiteral("wwDBNavigator1"));
    m_navegador->setGeometry(105, 29, 275, 24);
    auto* fila = new QHBoxLayout(m_navegador);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->setSpacing(0);
    struct Definicion
    {
        const char* nombre;
        const char* simbolo;
        const char* hint;
        const char* ayuda;
    };
    // The given hints stay with each button as its "hint" property; the tooltip says it in Spanish.
    const std::array<Definicion, 10> definiciones = {{
        {"wwDBNavigator1First", "|◄", "Move to first record", "Ir al primer registro"},
        {"wwDBNavigator1PriorPage", "◄◄", "Move backward 10 records", "Retroceder 10 registros"},
        {"wwDBNavigator1Prior", "◄", "Move to prior record", "Ir al registro anterior"},
        {"wwDBNavigator1Next", "►", "Move to next record", "Ir al registro siguiente"},
        {"wwDBNavigator1NextPage", "►►", "Move forward 10 records", "Avanzar 10 registros"},
        {"wwDBNavigator1Last", "►|", "Move to last record", "Ir al último registro"},
        {"wwDBNavigator1Edit", "▲", "Edit current record", "Editar el registro actual"},
        {"wwDBNavigator1Post", "✓", "Post changes of current record",
         "Guardar los cambios del registro actual"},
        {"wwDBNavigator1Cancel", "✗", "Cancel changes made to current record",
         "Cancelar los cambios del registro actual"},
        {"wwDBNavigator1Refresh", "↻", "Refresh the contents of the dataset", "Volver a leer la tabla"},
    }};
    for (std::size_t i = 0; i < definiciones.size(); ++i) {
        auto* b = new QToolButton(m_navegador);
        b->setObjectName(QString::fromLatin1(definiciones[i].nombre));
        b->setText(QString::fromUtf8(definiciones[i].simbolo));
        b->setProperty("hint", QString::fromLatin1(definiciones[i].hint));
        b->setToolTip(QString::fromUtf8(definiciones[i].ayuda));
        // A click on the navigator does not take the focus, so it does not leave the grid; the
        // keyboard reaches it with Tab after the buttons.
        b->setFocusPolicy(Qt::TabFocus);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        fila->addWidget(b);
        m_botones[i] = b;
        const auto boton = static_cast<Boton>(i);
        connect(b, &QToolButton::clicked, this, [this, boton] { Navegar(boton); });
    }
}

void TControlCursos::CrearTextosYBotones()
{
    const QFont negrita = FuenteNegrita();
    Etiqueta(m_draw3D1, "Label1", QStringLiteral("ASIGNACIÓN DE NIVELES Y CURSOS"),
             {kAmarillo, 16, true, false, false, {}}, 86, 5);
    m_label2 =
        Etiqueta(m_draw3D1, "Label2",
                 QStringLiteral("Se ha detectado que falta por indicar algún NIVEL  o CURSO. Complete el/los "
                                "datos que falten, para poder concluir el proceso, antes de Salir."),
                 {kAzul, 0, false, true, false, kCrema}, 473, 76, 180, 65);
    m_label3 = Etiqueta(m_draw3D1, "Label3", QStringLiteral("INCIDENCIAS EN EL TRASPASO"),
                        {kAzul, 0, true, false, true, kBlanco}, 468, 57, 190, 13);

    m_bitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), QStringLiteral("&Aceptar"),
                                m_draw3D1);
    m_bitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    m_bitBtn1->setGeometry(528, 379, 75, 25);
    m_bitBtn1->setFont(negrita);
    m_bitBtn1->setDefault(true);
    m_bitBtn1->setProperty(kPropiedadContexto, IDH_CURSOS);
    connect(m_bitBtn1, &QPushButton::clicked, this, &TControlCursos::BitBtn1Click);

    Etiqueta(m_draw3D1, "Label4", QStringLiteral("¡ IMPORTANTE !"), {kRojo, 13, false, false, false, {}}, 471,
             165);
    Etiqueta(m_draw3D1, "Label5",
             QStringLiteral("Las Abreviaturas de sus Grupos (Unidades), se formarán, en función del NIVEL y "
                            "CURSO, del siguiente modo: "),
             {kGranate, 0, false, true, false, {}}, 472, 181, 185, 52);
    Etiqueta(m_draw3D1, "Label6", QStringLiteral("Por ejemplo, NIVEL=ESO y CURSO=1 daría como resultado"),
             {kAzul, 0, false, true, false, {}}, 472, 234, 140, 39);
    Etiqueta(m_draw3D1, "Label7",
             QStringLiteral("Abreviatura del Grupo = ES1A y así secuencialmente para el resto de Grupos del "
                            "mismo NIVEL y CURSO, ES1B, ES1C, ES1D, etc.."),
             {kPurpura, 0, false, true, false, {}}, 472, 275, 175, 65);

    m_bitBtn2 = new BotonAjustado(QStringLiteral("&Forzar Salida Sin Terminar Proceso "), m_draw3D1);
    m_bitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    m_bitBtn2->setGeometry(461, 414, 205, 24);
    m_bitBtn2->setFont(negrita);
    QPalette rojo = m_bitBtn2->palette();
    rojo.setColor(QPalette::ButtonText, kRojo);
    m_bitBtn2->setPalette(rojo);
    connect(m_bitBtn2, &QPushButton::clicked, this, &TControlCursos::BitBtn2Click);

    m_label8 =
        Etiqueta(m_draw3D1, "Label8",
                 QStringLiteral("¡ Atención ! Si fuerza la Salida, los Datos recogidos serán INCOHERENTES."),
                 {kMarino, 0, false, true, true, kAmarillo}, 464, 440, 198, 39);
}

void TControlCursos::Conectar(AyudaAplicacion& ayuda)
{
    // What FormShow decided: the forced exit is offered from the start after an incomplete showing.
    m_label2->hide();
    m_label3->hide();
    m_bitBtn2->setVisible(m_control.SalidaVisible());
    m_label8->setVisible(m_control.SalidaVisible());

    // Tab goes from the grid to "Aceptar", the forced exit and then the navigator.
    setTabOrder(m_grid, m_bitBtn1);
    setTabOrder(m_bitBtn1, m_bitBtn2);
    QWidget* anterior = m_bitBtn2;
    for (QToolButton* b : m_botones) {
        setTabOrder(anterior, b);
        anterior = b;
    }

    InstalarTeclaAyuda(*this, ayuda);
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& actual, const QModelIndex&) {
                if (actual.isValid()) {
                    Proteger([&] {
                        m_modelo->IrAFila(actual.row());
                        m_modelo->Sincronizar();
                    });
                    ActualizarNavegador();
                }
            });
    // Typing in a cell puts its record in the edit state at once, as the navigator shows.
    connect(m_grid, &CursosTDBGrid::Escribiendo, this, [this](int fila) {
        Proteger([&] {
            m_modelo->IrAFila(fila);
            if (!Editando(m_control.Tabla())) {
                m_control.Tabla().Edit();
            }
        });
        ActualizarNavegador();
    });
    connect(m_modelo, &QAbstractItemModel::dataChanged, this, &TControlCursos::ActualizarNavegador);
    connect(qApp, &QApplication::focusChanged, this, &TControlCursos::CambioDeFoco);
    SeguirTabla();
    ActualizarNavegador();
    m_grid->setFocus();
}

TControlCursos::~TControlCursos() = default;

bool TControlCursos::Proteger(const std::function<void()>& accion)
{
    if (m_fallo) {
        return false;
    }
    try {
        accion();
        return true;
    } catch (...) {
        // The dialog ends; the prompter raises the error again once it is gone.
        m_fallo = std::current_exception();
        done(QDialog::Rejected);
        return false;
    }
}

void TControlCursos::ActualizarVisibilidad()
{
    if (m_control.IncidenciasVisibles()) {
        m_label3->show();
        m_label2->show();
    }
    if (m_control.SalidaVisible()) {
        m_bitBtn2->show();
    }
}

bool TControlCursos::EnGrid(const QWidget* w) const
{
    return w != nullptr && (w == m_grid || m_grid->isAncestorOf(w));
}

void TControlCursos::CambioDeFoco(QWidget*, QWidget* ahora)
{
    if (!m_enGrid && EnGrid(ahora)) {
        m_enGrid = true;
        CursosTDBGridEnter();
    } else if (m_enGrid && ahora != nullptr && ahora->window() == this && !EnGrid(ahora)) {
        // Only a move to another control of this dialog leaves the grid; another window taking
        // the focus (a message box, another program) does not.
        m_enGrid = false;
        CursosTDBGridExit();
    }
}

void TControlCursos::CursosTDBGridEnter()
{
    if (!m_control.Tabla().Active()) {
        return;
    }
    Proteger([&] {
        m_control.CursosTDBGridEnter();
        m_modelo->Sincronizar();
    });
    SeguirTabla();
    ActualizarNavegador();
}

void TControlCursos::CursosTDBGridExit()
{
    m_grid->CerrarEditor(true);
    Proteger([&] {
        m_control.CursosTDBGridExit();
        m_modelo->Sincronizar();
    });
    ActualizarNavegador();
}

void TControlCursos::BitBtn1Click()
{
    m_grid->CerrarEditor(true);
    if (!Proteger([&] { m_control.BitBtn1Click(); })) {
        return;
    }
    ActualizarVisibilidad();
    ActualizarNavegador();
    // An OK-kind button: the dialog closes with OK whatever the check found.
    accept();
}

void TControlCursos::BitBtn2Click()
{
    m_grid->CerrarEditor(true);
    if (!Proteger([&] { m_control.BitBtn2Click(); })) {
        return;
    }
    ActualizarNavegador();
    reject();
}

void TControlCursos::Navegar(Boton boton)
{
    m_grid->CerrarEditor(boton != Boton::Cancel);
    dbf::Table& t = m_control.Tabla();
    Proteger([&] {
        if (!t.Active()) {
            return;
        }
        const int fila = m_modelo->FilaActual();
        const int ultima = static_cast<int>(t.RecordCount()) - 1;
        switch (boton) {
        case Boton::First:
            m_modelo->IrAFila(0);
            break;
        case Boton::PriorPage:
            m_modelo->IrAFila(std::max(0, fila - 10));
            break;
        case Boton::Prior:
            m_modelo->IrAFila(fila - 1);
            break;
        case Boton::Next:
            m_modelo->IrAFila(fila + 1);
            break;
        case Boton::NextPage:
            m_modelo->IrAFila(std::min(ultima, fila + 10));
            break;
        case Boton::Last:
            m_modelo->IrAFila(ultima);
            break;
        case Boton::Edit:
            t.Edit();
            break;
        case Boton::Post:
            t.Post();
            break;
        case Boton::Cancel:
            t.Cancel();
            break;
        case Boton::Refresh:
            if (Editando(t)) {
                t.Post();
            }
            t.Refresh();
            m_modelo->Cargar();
            m_modelo->IrAFila(std::min(fila, static_cast<int>(t.RecordCount()) - 1));
            break;
        }
        m_modelo->Sincronizar();
    });
    SeguirTabla();
    ActualizarNavegador();
}

void TControlCursos::SeguirTabla()
{
    const int fila = m_modelo->FilaActual();
    if (fila < 0) {
        return;
    }
    const QModelIndex actual = m_grid->currentIndex();
    const int columna = actual.isValid() ? actual.column() : 0;
    if (actual.row() != fila) {
        m_grid->setCurrentIndex(m_modelo->index(fila, columna));
    }
}

void TControlCursos::ActualizarNavegador()
{
    const dbf::Table& t = m_control.Tabla();
    const bool activa = t.Active();
    const bool editando = Editando(t);
    const int registros = activa ? static_cast<int>(t.RecordCount()) : 0;
    const int fila = m_modelo->FilaActual();
    // Each button is enabled only while its action applies to the table as it stands.
    const bool atras = activa && fila > 0;
    const bool adelante = activa && fila >= 0 && fila + 1 < registros;
    const std::array<bool, 10> habilitado = {
        atras,    atras,    atras, adelante, adelante, adelante, activa && !editando && registros > 0,
        editando, editando, activa};
    for (std::size_t i = 0; i < m_botones.size(); ++i) {
        m_botones[i]->setEnabled(habilitado[i]);
    }
}

void TControlCursos::keyPressEvent(QKeyEvent* event)
{
    // The dialog has no cancel button: Escape does not close it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    // Enter on a navigator button presses that button, not the dialog's default one.
    const bool intro = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (intro && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        for (QToolButton* b : m_botones) {
            if (b->hasFocus()) {
                b->animateClick();
                event->accept();
                return;
            }
        }
    }
    QDialog::keyPressEvent(event);
}

} // namespace zendral
