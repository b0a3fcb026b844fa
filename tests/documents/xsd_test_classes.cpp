#include "documents/xsd_test_classes.h"

#include <cmath>
#include <map>
#include <sstream>

#include "datamodel/atomistic.h"

XX_IMPLEMENT_CLASS(TestRoot, "TestRoot", xxObject, 1)
XX_IMPLEMENT_CLASS(TestLeaf, "TestLeaf", xxObject, 1)
XX_IMPLEMENT_CLASS(TestPart, "TestPart", xxObject, 1)
XX_IMPLEMENT_CLASS(TestSink, "TestSink", xxObject, 2)
XX_IMPLEMENT_CLASS(TestDeleter, "TestDeleter", xxObject, 1)
XX_IMPLEMENT_CLASS(TestShared, "TestShared", xxObject, 1)

namespace {

void SaveSlots(xxOutput& out, const std::vector<std::unique_ptr<xxObject>>& slots) {
    out.WriteValue("Slots", static_cast<unsigned>(slots.size()));
    for (const auto& s : slots) out.SaveChildObject(s.get());
}

void LoadSlots(xxInput& in, std::vector<std::unique_ptr<xxObject>>& slots) {
    unsigned n = 0;
    in.ReadValue("Slots", n);
    slots.clear();
    for (unsigned k = 0; k < n; ++k) slots.push_back(in.ReadChild<xxObject>());
}

}  // namespace

void TestRoot::Save(xxOutput& out) const {
    out.WriteValue("Name", GetName(), std::string());
    SaveSlots(out, slots);
}

void TestRoot::Load(xxInput& in) {
    std::string name;
    in.ReadValue("Name", name, "");
    SetName(name);
    LoadSlots(in, slots);
}

void TestLeaf::Save(xxOutput& out) const {
    out.WriteValue("Name", GetName(), std::string());
    out.WriteValue("Value", value);
    // Said for the streams that store no names; the XML documents show it by the attribute.
    out.WriteAttributePresence("Ref", withRef);
    if (withRef) out.WriteReference("Ref", ref.Get());
}

void TestLeaf::Load(xxInput& in) {
    std::string name;
    in.ReadValue("Name", name, "");
    SetName(name);
    in.ReadValue("Value", value);
    withRef = in.HasAttribute("Ref");
    if (withRef) ref.Reset(in.ReadReferenceTo<xxObject>("Ref"));
}

std::vector<std::string>& TestLeaf::NotifiedLog() {
    static std::vector<std::string> log;
    return log;
}

void TestLeaf::OnAllObjectsLoaded(xxInput& in) {
    NotifiedLog().push_back(GetName() + (in.HasAttribute("Value") ? "+attr" : ""));
}

void TestPart::Save(xxOutput& out) const {
    out.WriteValue("PartWeight", weight);
    out.WriteValue("PartChild", withChild, false);
    if (withChild) out.SaveChildObject(child.get());
}

void TestPart::Load(xxInput& in) {
    in.ReadValue("PartWeight", weight);
    in.ReadValue("PartChild", withChild, false);
    if (withChild) child = in.ReadChild<xxObject>();
}

void TestSink::Fill(int seed) {
    float k = static_cast<float>(seed);
    f = 0.1f + k;
    fd = -2.5f;
    fq = {1.5f, 1.5f, 1.5f, 2.0f};
    fv = {k, std::numeric_limits<float>::infinity()};
    d = 1.0 / 3 + seed;
    dd = std::nan("");
    dv = {5, 5, 5, 5, 7};
    s = "text, with \"quotes\" & <tags>\tand\nlines \xC3\xA9";
    sd = "non-default";
    sv = {"a,b", "c\\d", "plain"};
    b = true;
    bd = true;
    bq = {true, false, true};
    bv = {true, true, false, true, false, false, false, false, true};
    xb = true;
    xbd = true;
    xbv = {true, true, true, false};
    uc = 200;
    ucd = 7;
    ucv = {0, 255, 255};
    ul = 4294967295u;
    uld = 3;
    ulv = {1, 1};
    l = -2147483647 - 1;
    ld = -3;
    lv = {-1, 0, 1};
    us = 65535;
    usd = 2;
    usv = {};
    sh = -32768;
    shd = 9;
    shv = {-1, -1, -1};
    ui = 12345u + static_cast<unsigned>(seed);
    uid = 8;
    uiv = {4000000000u};
    i = -seed;
    id = 11;
    iq = {2, 2, 2};
    iv = {0};
    templates = {&xxMatter::m_pptCharge, &xxAtom3d::m_pptElement};
    part.weight = 2.25 + seed;
    hasOptional = true;
    optional = 42;
    newer = 99;
}

void TestSink::Save(xxOutput& out) const {
    out.WriteValue("Name", GetName(), std::string());
    out.WriteValue("F", f);
    out.WriteValue("Fd", fd, 0.0f);
    out.WriteArray("Fq", fq);
    out.WriteArray("Fv", fv);
    out.WriteValue("D", d);
    out.WriteValue("Dd", dd, 0.0);
    out.WriteArray("Dv", dv);
    out.WriteValue("S", s);
    out.WriteValue("Sd", sd, std::string());
    out.WriteArray("Sv", sv);
    out.WriteValue("B", b);
    out.WriteValue("Bd", bd, false);
    out.WriteArray("Bq", bq);
    out.WriteArray("Bv", bv);
    out.WriteXxBoolValue("Xb", xb);
    out.WriteXxBoolValue("Xbd", xbd, false);
    out.WriteXxBoolArray("Xbv", xbv);
    out.WriteValue("Uc", uc);
    out.WriteValue("Ucd", ucd, static_cast<unsigned char>(0));
    out.WriteArray("Ucv", ucv);
    out.WriteULong32Value("Ul", ul);
    out.WriteULong32Value("Uld", uld, 0u);
    out.WriteULong32Array("Ulv", ulv);
    out.WriteLong32Value("L", l);
    out.WriteLong32Value("Ld", ld, 0);
    out.WriteLong32Array("Lv", lv);
    out.WriteValue("Us", us);
    out.WriteValue("Usd", usd, static_cast<unsigned short>(0));
    out.WriteArray("Usv", usv);
    out.WriteValue("Sh", sh);
    out.WriteValue("Shd", shd, static_cast<short>(0));
    out.WriteArray("Shv", shv);
    out.WriteValue("Ui", ui);
    out.WriteValue("Uid", uid, 0u);
    out.WriteArray("Uiv", uiv);
    out.WriteValue("I", i);
    out.WriteValue("Id", id, 0);
    out.WriteArray("Iq", iq);
    out.WriteArray("Iv", iv);
    out.WriteReference("Ref", ref.Get());
    xxPointerCollection<xxObject> collection(refs);
    out.WriteReferenceCollection("Refs", collection);
    out.WritePropertyTemplates("Templates", templates);
    out.SaveObjectInline(&part);
    out.WriteValue("Contained", withContained, false);
    if (withContained) {
        out.SaveObject(*contained[0], xxSaveKind::WithId);
        out.SaveObject(*contained[1], xxSaveKind::WithoutId);
        out.SaveObject(*contained[2], xxSaveKind::Unregistered);
    }
    out.WriteAttributePresence("Optional", hasOptional);
    if (hasOptional) out.WriteValue("Optional", optional);
    out.WriteValue("Newer", newer);
    SaveSlots(out, children);
}

void TestSink::Load(xxInput& in) {
    loadedVersion = in.GetClassVersion(GetClass(), true);
    std::string name;
    in.ReadValue("Name", name, "");
    SetName(name);
    in.ReadValue("F", f);
    in.ReadValue("Fd", fd, 0.0f);
    in.ReadArray("Fq", fq);
    in.ReadArray("Fv", fv);
    in.ReadValue("D", d);
    in.ReadValue("Dd", dd, 0.0);
    in.ReadArray("Dv", dv);
    in.ReadValue("S", s);
    in.ReadValue("Sd", sd, "");
    sv.clear();
    in.ReadArray("Sv", sv);
    in.ReadValue("B", b);
    in.ReadValue("Bd", bd, false);
    in.ReadArray("Bq", bq);
    in.ReadArray("Bv", bv);
    in.ReadXxBoolValue("Xb", xb);
    in.ReadXxBoolValue("Xbd", xbd, false);
    in.ReadXxBoolArray("Xbv", xbv);
    in.ReadValue("Uc", uc);
    in.ReadValue("Ucd", ucd, static_cast<unsigned char>(0));
    in.ReadArray("Ucv", ucv);
    in.ReadULong32Value("Ul", ul);
    in.ReadULong32Value("Uld", uld, 0u);
    in.ReadULong32Array("Ulv", ulv);
    in.ReadLong32Value("L", l);
    in.ReadLong32Value("Ld", ld, 0);
    in.ReadLong32Array("Lv", lv);
    in.ReadValue("Us", us);
    in.ReadValue("Usd", usd, static_cast<unsigned short>(0));
    in.ReadArray("Usv", usv);
    in.ReadValue("Sh", sh);
    in.ReadValue("Shd", shd, static_cast<short>(0));
    in.ReadArray("Shv", shv);
    in.ReadValue("Ui", ui);
    in.ReadValue("Uid", uid, 0u);
    in.ReadArray("Uiv", uiv);
    in.ReadValue("I", i);
    in.ReadValue("Id", id, 0);
    in.ReadArray("Iq", iq);
    in.ReadArray("Iv", iv);
    ref.Reset(in.ReadReferenceTo<xxObject>("Ref"));
    xxPointerCollection<xxObject> collection(refs);
    in.ReadReferenceCollection("Refs", collection);
    in.ReadPropertyTemplates("Templates", templates);
    in.MergeAttributes(part, *this);
    in.ReadValue("Contained", withContained, false);
    if (withContained) {
        const xxSaveKind kinds[] = {xxSaveKind::WithId, xxSaveKind::WithoutId, xxSaveKind::Unregistered};
        for (int k = 0; k < 3; ++k) {
            contained[k] = std::make_unique<TestLeaf>();
            in.ReadContainedObject(*contained[k], this, kinds[k]);
        }
    }
    hasOptional = in.HasAttribute("Optional");
    if (hasOptional) in.ReadValue("Optional", optional);
    if (loadedVersion >= 2) in.ReadValue("Newer", newer);
    LoadSlots(in, children);
}

void TestDeleter::Save(xxOutput& out) const { out.WriteReference("Victim", victim.Get()); }

void TestDeleter::Load(xxInput& in) {
    xxObject* v = in.ReadReferenceTo<xxObject>("Victim");
    if (v && v->GetParent()) v->Delete();
}

void TestShared::Save(xxOutput& out) const {
    out.WriteReference("Target", target.Get());
    const bool mark = target && out.IsReferencedMoreThan(*target, 1);
    out.WriteAttributePresence("Shared", mark);
    if (mark) out.WriteValue("Shared", true);
}

void TestShared::Load(xxInput& in) {
    target.Reset(in.ReadReferenceTo<xxObject>("Target"));
    shared = in.HasAttribute("Shared");
    bool value = false;
    if (shared) in.ReadValue("Shared", value);
}

std::unique_ptr<TestRoot> BuildGraph() {
    auto root = std::make_unique<TestRoot>();
    root->SetName("root");
    TestLeaf& early = root->Add<TestLeaf>();
    early.SetName("early");
    early.value = 1;
    early.withRef = true;  // to a sink saved after it
    root->slots.push_back(nullptr);
    TestSink& s1 = root->Add<TestSink>();
    s1.SetName("s1");
    s1.Fill(1);
    s1.withContained = true;
    for (auto& c : s1.contained) c = std::make_unique<TestLeaf>();
    s1.contained[0]->value = 10;
    s1.contained[1]->value = 11;
    s1.contained[2]->value = 12;
    s1.part.withChild = true;
    auto partChild = std::make_unique<TestLeaf>();
    partChild->SetName("partChild");
    s1.part.child = std::move(partChild);
    s1.children.push_back(nullptr);
    auto inner = std::make_unique<TestLeaf>();
    inner->SetName("inner");
    inner->withRef = true;
    inner->ref.Reset(root.get());  // the root object
    s1.children.push_back(std::move(inner));
    TestSink& s2 = root->Add<TestSink>();
    s2.SetName("s2");
    s2.Fill(2);
    s2.hasOptional = false;
    TestLeaf& late = root->Add<TestLeaf>();
    late.SetName("late");
    late.value = 3;
    late.withRef = true;
    late.ref.Reset(&early);  // backward
    early.ref.Reset(&s2);

    s1.ref.Reset(&late);
    s1.refs = {&early, nullptr, &s2, &early, &late, &s1, nullptr, s1.children[1].get(), root.get()};  // 9
    s2.ref.Reset(nullptr);
    std::vector<xxObject*> many = {&late, &late, &late, &early, &s1, &s2, nullptr, nullptr, &early, &late, s1.part.child.get()};
    s2.refs = many;  // 11: compressed
    return root;
}

// ---- comparer -------------------------------------------------------------------------------

namespace {

class Comparer {
public:
    std::string Run(const xxObject& a, const xxObject& b) {
        Number(&a, indexA_);
        Number(&b, indexB_);
        Compare(&a, &b, "root");
        return diff_;
    }

private:
    using Index = std::map<const xxObject*, int>;

    static void Children(const xxObject* o, std::vector<const xxObject*>& out) {
        auto add = [&](const std::vector<std::unique_ptr<xxObject>>& v) {
            for (const auto& c : v) out.push_back(c.get());
        };
        if (auto* r = dynamic_cast<const TestRoot*>(o)) add(r->slots);
        if (auto* s = dynamic_cast<const TestSink*>(o)) {
            out.push_back(&s->part);
            if (s->part.withChild) out.push_back(s->part.child.get());
            for (const auto& c : s->contained) out.push_back(c.get());
            add(s->children);
        }
        if (auto* n = dynamic_cast<const xxTreeNode*>(o)) add(n->Children());
    }
    void Number(const xxObject* o, Index& index) {
        if (!o) return;
        index.emplace(o, static_cast<int>(index.size()));
        std::vector<const xxObject*> kids;
        Children(o, kids);
        for (const xxObject* k : kids) Number(k, index);
    }
    int Pos(const xxObject* o, const Index& index) {
        if (!o) return -1;
        auto it = index.find(o);
        return it == index.end() ? -2 : it->second;
    }
    template <class T>
    void Same(const T& x, const T& y, const std::string& what) {
        if (diff_.empty() && !(x == y)) diff_ = what + " differs";
    }
    void SameDouble(double x, double y, const std::string& what) {
        bool same = (std::isnan(x) && std::isnan(y)) || x == y;
        if (diff_.empty() && !same) diff_ = what + " differs";
    }
    void Compare(const xxObject* a, const xxObject* b, const std::string& where) {
        if (!diff_.empty()) return;
        if (!a || !b) {
            if (a != b) diff_ = where + ": null on one side";
            return;
        }
        if (&a->GetClass() != &b->GetClass()) {
            diff_ = where + ": classes differ";
            return;
        }
        std::string w = where + "/" + a->GetClass().GetName() + "'" + a->GetName() + "'";
        Same(a->GetName(), b->GetName(), w + " name");
        for (const xxPropertyBase* p : a->PropertyTemplates()) {
            Same(p->IsAssigned(*a), p->IsAssigned(*b), w + " " + p->Name() + " assigned");
            Same(p->GetFromDifferentType(*a), p->GetFromDifferentType(*b), w + " " + p->Name());
        }
        if (auto* x = dynamic_cast<const TestLeaf*>(a)) {
            auto* y = static_cast<const TestLeaf*>(b);
            Same(x->value, y->value, w + " value");
            Same(Pos(x->ref.Get(), indexA_), Pos(y->ref.Get(), indexB_), w + " ref");
        }
        if (auto* x = dynamic_cast<const TestPart*>(a)) SameDouble(x->weight, static_cast<const TestPart*>(b)->weight, w + " weight");
        if (auto* x = dynamic_cast<const TestShared*>(a)) {
            auto* y = static_cast<const TestShared*>(b);
            Same(Pos(x->target.Get(), indexA_), Pos(y->target.Get(), indexB_), w + " target");
        }
        if (auto* x = dynamic_cast<const TestSink*>(a)) CompareSink(*x, *static_cast<const TestSink*>(b), w);
        std::vector<const xxObject*> ka, kb;
        Children(a, ka);
        Children(b, kb);
        Same(ka.size(), kb.size(), w + " child count");
        for (std::size_t k = 0; k < ka.size() && k < kb.size(); ++k) Compare(ka[k], kb[k], w + "[" + std::to_string(k) + "]");
    }
    void CompareSink(const TestSink& x, const TestSink& y, const std::string& w) {
        SameDouble(x.f, y.f, w + " f");
        SameDouble(x.fd, y.fd, w + " fd");
        Same(x.fq, y.fq, w + " fq");
        Same(x.fv, y.fv, w + " fv");
        SameDouble(x.d, y.d, w + " d");
        SameDouble(x.dd, y.dd, w + " dd");
        Same(x.dv, y.dv, w + " dv");
        Same(x.s, y.s, w + " s");
        Same(x.sd, y.sd, w + " sd");
        Same(x.sv, y.sv, w + " sv");
        Same(x.b, y.b, w + " b");
        Same(x.bd, y.bd, w + " bd");
        Same(x.bq, y.bq, w + " bq");
        Same(x.bv, y.bv, w + " bv");
        Same(x.xb, y.xb, w + " xb");
        Same(x.xbd, y.xbd, w + " xbd");
        Same(x.xbv, y.xbv, w + " xbv");
        Same(x.uc, y.uc, w + " uc");
        Same(x.ucd, y.ucd, w + " ucd");
        Same(x.ucv, y.ucv, w + " ucv");
        Same(x.ul, y.ul, w + " ul");
        Same(x.uld, y.uld, w + " uld");
        Same(x.ulv, y.ulv, w + " ulv");
        Same(x.l, y.l, w + " l");
        Same(x.ld, y.ld, w + " ld");
        Same(x.lv, y.lv, w + " lv");
        Same(x.us, y.us, w + " us");
        Same(x.usd, y.usd, w + " usd");
        Same(x.usv, y.usv, w + " usv");
        Same(x.sh, y.sh, w + " sh");
        Same(x.shd, y.shd, w + " shd");
        Same(x.shv, y.shv, w + " shv");
        Same(x.ui, y.ui, w + " ui");
        Same(x.uid, y.uid, w + " uid");
        Same(x.uiv, y.uiv, w + " uiv");
        Same(x.i, y.i, w + " i");
        Same(x.id, y.id, w + " id");
        Same(x.iq, y.iq, w + " iq");
        Same(x.iv, y.iv, w + " iv");
        Same(Pos(x.ref.Get(), indexA_), Pos(y.ref.Get(), indexB_), w + " ref");
        Same(x.refs.size(), y.refs.size(), w + " refs size");
        for (std::size_t k = 0; k < x.refs.size() && k < y.refs.size(); ++k)
            Same(Pos(x.refs[k], indexA_), Pos(y.refs[k], indexB_), w + " refs[" + std::to_string(k) + "]");
        Same(x.templates, y.templates, w + " templates");
        Same(x.withContained, y.withContained, w + " contained");
        Same(x.hasOptional, y.hasOptional, w + " optional present");
        if (x.hasOptional && y.hasOptional) Same(x.optional, y.optional, w + " optional");
        Same(x.newer, y.newer, w + " newer");
    }

    Index indexA_, indexB_;
    std::string diff_;
};

}  // namespace

std::string CompareGraphs(const xxObject& a, const xxObject& b) { return Comparer().Run(a, b); }
