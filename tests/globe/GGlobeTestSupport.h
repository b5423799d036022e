#pragma once
// A real globe control for the presenter, layer-rendering and control tests: shown on the
// offscreen platform at a small size, with helpers that drive it with the mouse and read its
// back buffer.

#include "globe/GGlobe.h"
#include "globe/GGraticule.h"
#include "globe/GPresenter.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace vtrtest {

// A rectangle of pixels, edges inclusive; empty until a pixel is added.
struct PixelBox
{
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;
  int Width() const { return right < left ? 0 : right - left + 1; }
  int Height() const { return bottom < top ? 0 : bottom - top + 1; }
  void Add(int x, int y)
  {
    left = std::min(left, x);
    right = std::max(right, x);
    top = std::min(top, y);
    bottom = std::max(bottom, y);
  }
};

class GlobeTest : public ::testing::Test
{
protected:
  // A w x h control: shown, without scroll bars, nothing behind the map but white, no surface,
  // no graticule.
  void MakeGlobe(int w, int h)
  {
    globe = std::make_unique<vtr::TGGlobe>();
    globe->SetScrollBars(vtr::ssNone);
    globe->resize(w, h);
    globe->show();
    QApplication::processEvents();
    globe->SetColor(vtr::clWhite);
    globe->SetSurfaceColor(vtr::clNone);
    globe->Graticule().SetDrawMode(vtr::gdNone);
  }
  // Cartesian, pixelsPerDegree pixels to the degree, (0, 0) at the client centre.
  void MakeFlatGlobe(int w, int h, long double pixelsPerDegree = 1)
  {
    MakeGlobe(w, h);
    vtr::TGProjector& p = globe->Projector();
    p.SetProjectionClass("TGCartesianPrj");
    p.SetScaleFactor(pixelsPerDegree / vtr::GU_DEGREE);
    p.SetCenterXY({w / 2, h / 2});
  }
  // Spherical, fitted and centred.
  void MakeSphereGlobe(int w, int h)
  {
    MakeGlobe(w, h);
    vtr::TGProjector& p = globe->Projector();
    p.SetProjectionClass("TGSphericalPrj");
    p.SetXRotation(0);
    p.SetYRotation(0);
    p.SetScaleFactor(0);
    p.SetCenterXY({w / 2, h / 2});
  }

  vtr::TGBitmap& Buffer()
  {
    return dynamic_cast<vtr::TGDefaultRenderer&>(globe->Renderer()).BackBuffer();
  }
  vtr::TColor Pixel(int x, int y) { return Buffer().GetPixel(x, y); }
  // Pixels of that colour / not white inside [x0, x1) x [y0, y1).
  int Count(vtr::TColor c, int x0, int y0, int x1, int y1)
  {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        n += Pixel(x, y) == c;
    return n;
  }
  int Ink(int x0, int y0, int x1, int y1)
  {
    return (x1 - x0) * (y1 - y0) - Count(vtr::clWhite, x0, y0, x1, y1);
  }
  // The box of the pixels of colour c inside a border of `inset` pixels; with clNone, of those
  // neither white nor the view outline's red.
  PixelBox BoxOf(vtr::TColor c = vtr::clNone, int inset = 0)
  {
    PixelBox b;
    for (int y = inset; y < Buffer().Height() - inset; ++y)
      for (int x = inset; x < Buffer().Width() - inset; ++x) {
        const vtr::TColor p = Pixel(x, y);
        if (c == vtr::clNone ? (p != vtr::clWhite && p != vtr::clRed) : p == c) b.Add(x, y);
      }
    return b;
  }
  // Ink away from the border, where the view outline runs.
  int InnerInk() { return Ink(3, 3, Buffer().Width() - 3, Buffer().Height() - 3); }

  vtr::TGPoint XY(double lonDeg, double latDeg)
  {
    vtr::TGPoint pt;
    globe->Projector().DDToDeviceXY(lonDeg, latDeg, pt);
    return pt;
  }

  // A new layer on top of the root's store (the store owns it).
  vtr::TGLayer& AddLayer(const std::string& name)
  {
    auto layer = std::make_unique<vtr::TGLayer>(globe.get());
    layer->SetName(name);
    vtr::TGLayer& ref = *layer;
    globe->Layers().Add(std::move(layer));
    return ref;
  }
  // A point presenter of class P drawing `type` in black at `size` pixels, added to the layer.
  template <class P, class Type>
  P& AddBlackPointPresenter(vtr::TGLayer& layer, Type type, int32_t size)
  {
    auto p = std::make_unique<P>(globe.get());
    p->SetPointType(type);
    p->SetPointSize(size);
    p->PointPen().Define(vtr::clBlack, vtr::gpsSolid, 1, vtr::guPixel);
    p->PointBrush().Define(vtr::clBlack, vtr::clBlack, vtr::gbsSolid);
    P& ref = *p;
    layer.Presenters().Add(std::move(p));
    return ref;
  }
  std::shared_ptr<vtr::TGMapPoint> AddPoint(vtr::TGLayer& layer, double lonDeg, double latDeg,
                                            int32_t presenterID, const std::string& title = {})
  {
    auto p = std::make_shared<vtr::TGMapPoint>();
    p->SetCentroid(vtr::DDToPointLL(lonDeg, latDeg));
    p->SetPresenterID(presenterID);
    if (!title.empty()) p->SetAttribute(0, title);
    layer.ObjectSource().Add(p);
    return p;
  }
  // A closed square poly of side degrees with its south-west corner at (lon, lat).
  std::shared_ptr<vtr::TGMapPoly> AddSquare(vtr::TGLayer& layer, double lonDeg, double latDeg,
                                            double sideDeg, int32_t presenterID)
  {
    auto poly = std::make_shared<vtr::TGMapPoly>();
    vtr::TGPointStore& c = poly->Chains().Last();
    c.AddDD(latDeg, lonDeg);
    c.AddDD(latDeg + sideDeg, lonDeg);
    c.AddDD(latDeg + sideDeg, lonDeg + sideDeg);
    c.AddDD(latDeg, lonDeg + sideDeg);
    poly->SetClosed(true);
    poly->SetPresenterID(presenterID);
    poly->Invalidate();
    layer.ObjectSource().Add(poly);
    return poly;
  }

  // Mouse events on the client area, buttons held as a real pointer holds them.
  void Press(Qt::MouseButton b, QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier)
  {
    Send(QEvent::MouseButtonPress, b, b, p, m);
  }
  void Move(Qt::MouseButtons held, QPoint p) { Send(QEvent::MouseMove, Qt::NoButton, held, p, {}); }
  void Release(Qt::MouseButton b, QPoint p)
  {
    Send(QEvent::MouseButtonRelease, b, Qt::NoButton, p, {});
  }
  void Drag(Qt::MouseButton b, QPoint from, QPoint to)
  {
    Press(b, from);
    Move(b, (from + to) / 2);
    Move(b, to);
    Release(b, to);
  }
  void Click(Qt::MouseButton b, QPoint p)
  {
    Press(b, p);
    Release(b, p);
  }

  std::unique_ptr<vtr::TGGlobe> globe;

private:
  void Send(QEvent::Type type, Qt::MouseButton b, Qt::MouseButtons held, QPoint p,
            Qt::KeyboardModifiers m)
  {
    QWidget* target = globe->viewport();
    QMouseEvent e(type, QPointF(p), QPointF(target->mapToGlobal(p)), b, held, m);
    QApplication::sendEvent(target, &e);
  }
};

} // namespace vtrtest
