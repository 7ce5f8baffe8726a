// The compiled half of the Python package vrlib: a context, the simulator and the rigid fit over
// the C interface. The Python half (vrlib/__init__.py) adds the constants and the attribute
// properties, generated from the library's attribute table at import.
//
// Matrices cross as numpy arrays of shape (4, 4) in C order, so that a[i, j] is the C matrix's
// m[i][j] and a.ravel() is the sixteen values in the order the C call writes them. Each result is
// written straight into the array that is returned: no other copy is made.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <vrlib/vr.h>
#include <vrsim/vrsim.h>

namespace py = pybind11;

namespace {

// ---- Errors -------------------------------------------------------------------------------------

// The exception class lives in Python (vrlib/_errors.py) so that it carries .code and the parts of
// a set-up file message as plain attributes.
py::object error_class() {
  static py::object cls = py::module_::import("vrlib._errors").attr("Error");
  return cls;
}

[[noreturn]] void raise_error(py::object code, const std::string &message) {
  py::object error = error_class()(code, message);
  PyErr_SetObject(error.get_type().ptr(), error.ptr());
  throw py::error_already_set();
}

[[noreturn]] void raise_result(vr_result code, const std::string &message) {
  raise_error(py::int_(static_cast<int>(code)), message);
}

// What the library prints on the standard error stream during one call is what the exception
// says: the call runs with descriptor 2 on a pipe, and a failure reads the pipe back, so the
// message reaches the user once, in the exception, and not also on the terminal. The pipe is made
// once and never blocks: a message longer than its buffer is cut, not waited for.
class StderrCapture {
 public:
  StderrCapture() {
    if (!pipe_ready()) return;
    fflush(stderr);
    saved_ = dup(2);
    if (saved_ >= 0 && dup2(pipe_fds()[1], 2) < 0) {
      close(saved_);
      saved_ = -1;
    }
  }
  ~StderrCapture() { restore(); }
  StderrCapture(const StderrCapture &) = delete;
  StderrCapture &operator=(const StderrCapture &) = delete;

  // Ends the capture and gives what was written, without a trailing newline.
  std::string text() {
    restore();
    std::string out;
    if (!pipe_ready()) return out;
    char buffer[1024];
    for (;;) {
      const ssize_t n = read(pipe_fds()[0], buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<size_t>(n));
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }

 private:
  static int *pipe_fds() {
    static int fds[2] = {-1, -1};
    return fds;
  }
  static bool pipe_ready() {
    static const bool ready = [] {
      int *fds = pipe_fds();
      if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
      return true;
    }();
    return ready;
  }
  void restore() {
    if (saved_ < 0) return;
    fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
};

// Runs one call that returns a vr_result with the standard error stream captured; raises
// vrlib.Error with the library's message when it is not VR_OK.
template <typename Call>
void checked(Call &&call) {
  StderrCapture capture;
  const vr_result r = call();
  if (r == VR_OK) return;
  // The refusal is the last line. Anything before it was written by someone else meanwhile (a
  // thread of the application, or a tracker set-up running without the GIL) and goes on to the
  // terminal as it would have.
  std::string text = capture.text();
  const size_t cut = text.rfind('\n');
  if (cut != std::string::npos) {
    const std::string earlier = text.substr(0, cut + 1);
    if (write(2, earlier.data(), earlier.size()) < 0) {
      // Nowhere else to say it.
    }
    text.erase(0, cut + 1);
  }
  raise_result(r, text);
}

// Hands back to the standard error stream what a call printed although it succeeded (a
// VRLIB_CONFIG that was not applied, a note of a set-up file): only failures become exceptions.
void pass_through(StderrCapture &capture) {
  const std::string text = capture.text();
  if (text.empty()) return;
  const std::string line = text + "\n";
  if (write(2, line.data(), line.size()) < 0) {
    // Nowhere else to say it.
  }
}

// ---- Arrays ------------------------------------------------------------------------------------

template <typename T>
py::array_t<T> new_matrix() {
  return py::array_t<T>({4, 4});
}

py::array_t<double> new_point() {
  return py::array_t<double>(3);
}

// Any array-like of `count` numbers in the given shape, as contiguous doubles; refuses others with
// vrlib.Error VR_ERR_BAD_VALUE (wrong shape) or VR_ERR_WRONG_TYPE (not numbers).
py::array_t<double, py::array::c_style> as_doubles(py::handle value, std::vector<py::ssize_t> shape,
                                                   const char *what) {
  py::array_t<double, py::array::c_style> a;
  bool numbers = true;
  try {
    a = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(value);
    numbers = static_cast<bool>(a);
  } catch (py::error_already_set &) {
    numbers = false;
  }
  if (!numbers) {
    PyErr_Clear();
    raise_result(VR_ERR_WRONG_TYPE, std::string(what) + ": not an array of numbers");
  }
  bool fits = static_cast<size_t>(a.ndim()) == shape.size();
  for (size_t i = 0; fits && i < shape.size(); ++i) fits = a.shape(i) == shape[i];
  if (!fits) {
    std::string want = "(";
    for (size_t i = 0; i < shape.size(); ++i)
      want += std::to_string(shape[i]) + (i + 1 < shape.size() || shape.size() == 1 ? "," : "");
    want += ")";
    raise_result(VR_ERR_BAD_VALUE, std::string(what) + ": wants an array of shape " + want);
  }
  return a;
}

std::string attribute_label(int id) {
  const char *name = vr_attr_name(id);
  return "attribute " + std::to_string(id) + (name ? std::string(" (") + name + ")" : "");
}

// ---- The context
// ---------------------------------------------------------------------------------

struct Simulator;
Simulator *installed_simulator = nullptr;  // the Simulator whose vrsim is the platform now

struct Context {
  vr_ctx *ctx = nullptr;
  // The simulator that was installed when the trackers started: its lines carry them, so it ends
  // them before it goes (see Simulator::close), and a context freed first ends them through it.
  Simulator *sim = nullptr;
  bool trackers = false;

  explicit Context(vr_ctx *c) : ctx(c) {}
  ~Context();
  vr_ctx *live() const {
    if (ctx == nullptr) raise_result(VR_ERR_BAD_VALUE, "the context is closed");
    return ctx;
  }
  void quit_trackers();
  void close();
};

struct Simulator {
  vrsim *sim = nullptr;
  std::vector<Context *> users;  // contexts whose trackers run on this simulator's lines

  vrsim *live() const {
    if (sim == nullptr) raise_result(VR_ERR_BAD_VALUE, "the simulator is closed");
    return sim;
  }
  void forget(Context *c) {
    for (size_t i = 0; i < users.size(); ++i)
      if (users[i] == c) {
        users.erase(users.begin() + static_cast<std::ptrdiff_t>(i));
        return;
      }
  }
  void close() {
    if (installed_simulator == this) installed_simulator = nullptr;
    if (sim == nullptr) return;
    // The trackers of contexts still open end while their lines exist: afterwards their
    // handlers would read lines of a simulator that is gone.
    const std::vector<Context *> still = users;
    for (Context *c : still) c->quit_trackers();
    users.clear();
    vrsim_destroy(sim);
    sim = nullptr;
  }
  ~Simulator() { close(); }
};

void Context::quit_trackers() {
  if (ctx != nullptr) vr_quit(ctx);
  trackers = false;
  if (sim != nullptr) sim->forget(this);
  sim = nullptr;
}

void Context::close() {
  if (ctx == nullptr) return;
  quit_trackers();
}

Context::~Context() {
  if (ctx == nullptr) return;
  quit_trackers();
  std::free(ctx);
  ctx = nullptr;
}

py::object get_attribute(Context &self, int id) {
  vr_ctx *ctx = self.live();
  switch (vr_attr_type_of(id)) {
    case VR_TYPE_DOUBLE: {
      double v = 0;
      checked([&] { return vr_get_double(ctx, id, &v); });
      return py::float_(v);
    }
    case VR_TYPE_INT: {
      int v = 0;
      checked([&] { return vr_get_int(ctx, id, &v); });
      return py::int_(v);
    }
    case VR_TYPE_POINT: {
      auto out = new_point();
      checked([&] { return vr_get_point(ctx, id, out.mutable_data()); });
      return out;
    }
    case VR_TYPE_MATRIX: {
      auto out = new_matrix<double>();
      checked([&] {
        return vr_get_matrix(ctx, id, reinterpret_cast<double(*)[4]>(out.mutable_data()));
      });
      return out;
    }
    default:
      break;
  }
  // The blocks that only vr_object_get hands out (by address): copied into arrays.
  if (id == VR_WINDOW_CORNER_DIRS) {
    py::array_t<double> out({4, 3});
    std::memcpy(out.mutable_data(), ctx->window_corner_dirs, sizeof ctx->window_corner_dirs);
    return out;
  }
  if (id == VR_PWORLD_TIME) {
    return py::make_tuple(ctx->pworld_time_now, ctx->pworld_time_prev, ctx->pworld_time_delta,
                          ctx->pworld_time_base);
  }
  if (id == VR_CYBERMAN_STATE) {
    const vr_cyberman_state &s = ctx->cyberman_state;
    py::dict d;
    d["x_motion"] = s.x_motion;
    d["y_motion"] = s.y_motion;
    d["buttons"] = s.buttons;
    d["state"] = py::make_tuple(s.state[0], s.state[1], s.state[2], s.state[3]);
    return d;
  }
  // Unknown identifiers and the set-only callback slots: the library's own refusal.
  double ignored = 0;
  checked([&] { return vr_get_double(ctx, id, &ignored); });
  raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " cannot be read from Python");
}

void set_attribute(Context &self, int id, py::handle value) {
  vr_ctx *ctx = self.live();
  const vr_attr_type type = vr_attr_type_of(id);
  switch (type) {
    case VR_TYPE_DOUBLE: {
      if (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr()) && !PyNumber_Check(value.ptr()))
        raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " holds a number (float)");
      const double v = PyFloat_AsDouble(value.ptr());
      if (v == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " holds a number (float)");
      }
      checked([&] { return vr_set_double(ctx, id, v); });
      return;
    }
    case VR_TYPE_INT: {
      // Whole numbers only (int, bool, numpy integers): a float would be silently cut.
      if (PyFloat_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
        raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " holds an integer");
      py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
      if (!index) {
        PyErr_Clear();
        raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " holds an integer");
      }
      int overflow = 0;
      const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
      if (overflow != 0 || v < INT32_MIN || v > INT32_MAX)
        raise_result(VR_ERR_BAD_VALUE, attribute_label(id) + ": value out of the int range");
      checked([&] { return vr_set_int(ctx, id, static_cast<int>(v)); });
      return;
    }
    case VR_TYPE_POINT: {
      const auto a = as_doubles(value, {3}, attribute_label(id).c_str());
      checked([&] { return vr_set_point(ctx, id, a.data()); });
      return;
    }
    case VR_TYPE_MATRIX: {
      const auto a = as_doubles(value, {4, 4}, attribute_label(id).c_str());
      checked(
          [&] { return vr_set_matrix(ctx, id, reinterpret_cast<const double(*)[4]>(a.data())); });
      return;
    }
    default:
      break;
  }
  // Unknown identifiers, blocks and callbacks: the library's own refusal, nothing stored.
  checked([&] { return vr_set_int(ctx, id, 0); });
  raise_result(VR_ERR_WRONG_TYPE, attribute_label(id) + " cannot be set from Python");
}

template <typename T, typename Call>
py::tuple eye_matrices(Context &self, int eye, int depth, Call call) {
  vr_ctx *ctx = self.live();
  auto projection = new_matrix<T>();
  auto view = new_matrix<T>();
  checked([&] {
    return call(ctx, eye, static_cast<vr_depth_convention>(depth), projection.mutable_data(),
                view.mutable_data());
  });
  return py::make_tuple(std::move(projection), std::move(view));
}

// Messages of the tracker set-ups: whichever driver failed left its reason in one of these.
std::string tracker_message(vr_ctx *ctx) {
  if (ctx->glasses_source == VR_GLASSES_SOURCE_DYNASIGHT && vr_ds_message[0]) return vr_ds_message;
  if (ctx->glasses_source == VR_SOURCE_NETWORK && vr_net_message[0]) return vr_net_message;
  if (vr_lt_message[0]) return vr_lt_message;
  if (vr_ds_message[0]) return vr_ds_message;
  return "the trackers did not start";
}

void config_error(const char *what) {
  const char *message = vr_config_message();
  raise_error(py::none(), message && *message ? message : what);
}

// A quaternion (x, y, z, w) or None.
bool optional_quat(py::handle turn, double out[4]) {
  if (turn.is_none()) return false;
  const auto a = as_doubles(turn, {4}, "turn");
  std::memcpy(out, a.data(), 4 * sizeof(double));
  return true;
}

}  // namespace

PYBIND11_MODULE(_vrlib, m) {
  m.doc() = "Compiled core of vrlib; use the package vrlib.";

  m.def("attr_type_of", [](int id) { return static_cast<int>(vr_attr_type_of(id)); });
  m.def("attr_name", [](int id) -> py::object {
    const char *name = vr_attr_name(id);
    if (name == nullptr) return py::none();
    return py::str(name);
  });

  py::class_<Context>(m, "Context")
      .def(py::init([] {
             vr_ctx *c = nullptr;
             std::string message;
             {
               StderrCapture capture;
               c = vr_ctx_create();
               if (c == nullptr)
                 message = capture.text();
               else
                 pass_through(capture);
             }
             if (c == nullptr)
               raise_result(VR_ERR_BAD_VALUE, message.empty() ? "out of memory" : message);
             return new Context(c);
           }),
           "A context with every default of vr_ctx_create.")
      .def_static(
          "display",
          [](double width_cm, double height_cm, int width_px, int height_px, int kind) {
            vr_ctx *c = nullptr;
            std::string message;
            {
              StderrCapture capture;
              c = vr_ctx_create_display(width_cm, height_cm, width_px, height_px,
                                        static_cast<vr_display_kind>(kind));
              if (c == nullptr)
                message = capture.text();
              else
                pass_through(capture);
            }
            if (c == nullptr) raise_result(VR_ERR_BAD_VALUE, message);
            return new Context(c);
          },
          py::arg("width_cm"), py::arg("height_cm"), py::arg("width_px"), py::arg("height_px"),
          py::arg("kind") = static_cast<int>(VR_DISPLAY_FLAT_PANEL),
          "A context for a display of width_cm x height_cm (the visible picture) and width_px x "
          "height_px pixels (vr_ctx_create_display).")
      .def("get", &get_attribute, py::arg("id"),
           "The attribute's value: float, int, a (3,) point or a (4, 4) matrix (m[i, j] = "
           "C's m[i][j]).")
      .def("set", &set_attribute, py::arg("id"), py::arg("value"),
           "Sets an attribute; a refused value raises vrlib.Error with the vr_result.")
      .def(
          "comp_view", [](Context &self) { vr_comp_view(self.live()); },
          "One frame: reads the trackers, places the eyes and computes the views.")
      .def(
          "eye_matrices",
          [](Context &self, int eye, int depth) {
            return eye_matrices<float>(self, eye, depth, vr_eye_matrices);
          },
          py::arg("eye"), py::arg("depth") = static_cast<int>(VR_DEPTH_LIBRARY),
          "(projection, view) of the last frame for one eye, float32 (4, 4) arrays whose ravel() "
          "is what glUniformMatrix4fv(loc, 1, GL_FALSE, m) takes.")
      .def(
          "eye_matrices_d",
          [](Context &self, int eye, int depth) {
            return eye_matrices<double>(self, eye, depth, vr_eye_matrices_d);
          },
          py::arg("eye"), py::arg("depth") = static_cast<int>(VR_DEPTH_LIBRARY),
          "eye_matrices in float64.")
      .def(
          "world_in_plate_cm",
          [](Context &self) {
            vr_ctx *c = self.live();
            checked([&] { return vr_world_in_plate_cm(c); });
          },
          "World coordinates become plate centimetres (vr_world_in_plate_cm).")
      .def(
          "window_match",
          [](Context &self, int x, int y, int width, int height) {
            vr_window_match_ws(self.live(), x, y, width, height);
          },
          py::arg("x"), py::arg("y"), py::arg("width"), py::arg("height"),
          "The window's place on the screen in pixels (x, y from the top-left corner), then "
          "vr_window_comp.")
      .def(
          "window_comp", [](Context &self) { vr_window_comp(self.live()); },
          "Applies the screen and window sizes (vr_window_comp).")
      .def(
          "load_config",
          [](Context &self, const std::string &path) {
            vr_ctx *c = self.live();
            int ok = 0;
            {
              StderrCapture capture;
              ok = vr_config_load(c, path.c_str());
              if (ok) pass_through(capture);
            }
            if (!ok) config_error("the set-up file was not applied");
          },
          py::arg("path"),
          "Applies a set-up file; vrlib.Error (with file, line and key) when it is refused.")
      .def(
          "save_config",
          [](Context &self, const std::string &path) {
            vr_ctx *c = self.live();
            int ok = 0;
            {
              StderrCapture capture;
              ok = vr_config_save(c, path.c_str());
              if (ok) pass_through(capture);
            }
            if (!ok) config_error("the set-up file was not written");
          },
          py::arg("path"), "Writes the context's whole set-up to a file.")
      .def(
          "init_trackers",
          [](Context &self, bool head, bool mouse) {
            vr_ctx *c = self.live();
            int ok = 0;
            {
              // The set-up takes seconds with real units (their pauses): other Python threads run.
              py::gil_scoped_release release;
              ok = vr_init_glasses_and_mouse_6d(c, head ? 1 : 0, mouse ? 1 : 0);
            }
            if (!ok) raise_error(py::none(), tracker_message(c));
            self.trackers = true;
            Simulator *s = installed_simulator;
            if (s != nullptr && s->sim != nullptr && vrsim_installed() == s->sim && self.sim != s) {
              if (self.sim != nullptr) self.sim->forget(&self);
              self.sim = s;
              s->users.push_back(&self);
            }
          },
          py::arg("head") = true, py::arg("mouse") = true,
          "Starts the trackers of VR_GLASSES_SOURCE / VR_MOUSE_SOURCE (the GIL is released "
          "meanwhile); vrlib.Error with the driver's message when they do not start.")
      .def(
          "quit", [](Context &self) { self.quit_trackers(); },
          "Ends the trackers (vr_quit); the context stays usable.")
      .def("close", &Context::close, "Ends the trackers (vr_quit); the context stays readable.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](Context &self, py::args) {
             self.close();
             return false;
           })
      .def_property_readonly(
          "address", [](const Context &self) { return reinterpret_cast<std::uintptr_t>(self.ctx); },
          "The vr_ctx pointer, for ctypes or cffi calls into the library.");

  py::class_<Simulator>(m, "Simulator")
      .def(py::init([](unsigned long long seed) {
             vrsim *s = vrsim_create(seed);
             if (s == nullptr) raise_result(VR_ERR_BAD_VALUE, "out of memory");
             auto *out = new Simulator;
             out->sim = s;
             return out;
           }),
           py::arg("seed") = 1)
      .def("install",
           [](Simulator &self) {
             vrsim_install(self.live());
             installed_simulator = &self;
           })
      .def("uninstall",
           [](Simulator &self) {
             if (self.sim != nullptr && vrsim_installed() == self.sim) vrsim_uninstall();
             if (installed_simulator == &self) installed_simulator = nullptr;
           })
      .def("plug_standard", [](Simulator &self) { vrsim_plug_standard(self.live()); })
      .def(
          "advance", [](Simulator &self, double seconds) { vrsim_advance(self.live(), seconds); },
          py::arg("seconds"))
      .def_property_readonly("now", [](Simulator &self) { return vrsim_now(self.live()); })
      .def(
          "set_head_plate",
          [](Simulator &self, Context &ctx, py::handle eyes, py::handle turn) {
            double q[4];
            const bool has_turn = optional_quat(turn, q);
            const double *eye_mid = nullptr;
            py::array_t<double, py::array::c_style> e;
            if (!eyes.is_none()) {
              e = as_doubles(eyes, {3}, "eyes");
              eye_mid = e.data();
            }
            if (!vrsim_set_head_plate(self.live(), ctx.live(), eye_mid, has_turn ? q : nullptr))
              raise_result(VR_ERR_BAD_VALUE, "set_head_plate: the head cannot be placed there");
          },
          py::arg("ctx"), py::arg("eyes") = py::none(), py::arg("turn") = py::none())
      .def(
          "set_mouse_tip_plate",
          [](Simulator &self, Context &ctx, py::handle tip, py::handle turn) {
            double q[4];
            const bool has_turn = optional_quat(turn, q);
            const double *point = nullptr;
            py::array_t<double, py::array::c_style> t;
            if (!tip.is_none()) {
              t = as_doubles(tip, {3}, "tip");
              point = t.data();
            }
            if (!vrsim_set_mouse_tip_plate(self.live(), ctx.live(), point, has_turn ? q : nullptr))
              raise_result(VR_ERR_BAD_VALUE,
                           "set_mouse_tip_plate: the mouse cannot be placed there");
          },
          py::arg("ctx"), py::arg("tip") = py::none(), py::arg("turn") = py::none())
      .def("set_buttons", [](Simulator &self, int which,
                             int buttons) { vrsim_set_buttons(self.live(), which, buttons); })
      .def("close", [](Simulator &self) { self.close(); })
      .def_property_readonly("closed", [](const Simulator &self) { return self.sim == nullptr; })
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Simulator &self, py::args) {
        self.close();
        return false;
      });

  m.def("orientation_from_angles", [](double yaw, double pitch, double roll) {
    auto out = py::array_t<double>(4);
    vrsim_orientation_from_angles(yaw, pitch, roll, out.mutable_data());
    return out;
  });

  m.def(
      "rigid_fit",
      [](py::handle from_points, py::handle to_points) {
        const auto f =
            py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(from_points);
        const auto t =
            py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(to_points);
        if (!f || !t) {
          PyErr_Clear();
          raise_error(py::int_(static_cast<int>(VR_FIT_NULL)), "rigid_fit: not arrays of numbers");
        }
        if (f.ndim() != 2 || t.ndim() != 2 || f.shape(1) != 3 || t.shape(1) != 3 ||
            f.shape(0) != t.shape(0))
          raise_error(py::int_(static_cast<int>(VR_FIT_TOO_FEW)),
                      "rigid_fit: wants two arrays of the same shape (n, 3)");
        auto out = new_matrix<double>();
        double rms = 0, worst = 0;
        const vr_fit_result r =
            vr_rigid_fit(static_cast<int>(f.shape(0)), reinterpret_cast<const dpt *>(f.data()),
                         reinterpret_cast<const dpt *>(t.data()),
                         reinterpret_cast<double(*)[4]>(out.mutable_data()), &rms, &worst);
        static const char *const reasons[] = {"", "fewer than 3 pairs",
                                              "the points lie on one line or in one point",
                                              "a coordinate is not finite", "a null argument"};
        if (r != VR_FIT_OK)
          raise_error(
              py::int_(static_cast<int>(r)),
              std::string("rigid_fit: ") + (r >= 0 && r <= VR_FIT_NULL ? reasons[r] : "failed"));
        return py::make_tuple(std::move(out), rms, worst);
      },
      py::arg("from_points"), py::arg("to_points"));
}
