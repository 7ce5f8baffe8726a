#include "gl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace vrdemo {

struct GlContext::Handles {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint draw_fbo = 0;     // what the scene is drawn into
  GLuint resolve_fbo = 0;  // single-sampled copy when drawing is multisampled
  GLuint renderbuffers[3] = {0, 0, 0};
  int samples = 0;

  ~Handles() {
    if (context != EGL_NO_CONTEXT) {
      if (eglGetCurrentContext() == context) {
        glDeleteFramebuffers(1, &draw_fbo);
        if (resolve_fbo) glDeleteFramebuffers(1, &resolve_fbo);
        glDeleteRenderbuffers(3, renderbuffers);
      }
      eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
      eglDestroyContext(display, context);
    }
    if (display != EGL_NO_DISPLAY) eglTerminate(display);
  }
};

namespace {

std::string egl_error_text(const char *what) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "%s failed (EGL error 0x%04x)", what,
                static_cast<unsigned>(eglGetError()));
  return buf;
}

bool has_extension(const char *list, const char *name) {
  if (!list) return false;
  const size_t n = std::strlen(name);
  for (const char *p = list; (p = std::strstr(p, name)) != nullptr; p += n) {
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0')) return true;
  }
  return false;
}

// The surfaceless platform needs neither a window system nor a render node; the default display
// is the fallback for EGL implementations without it.
EGLDisplay open_display() {
  const char *client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (has_extension(client, "EGL_MESA_platform_surfaceless")) {
    auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (get_platform_display) {
      EGLDisplay d =
          get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      if (d != EGL_NO_DISPLAY) return d;
    }
  }
  return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

// Colour (and depth) renderbuffer of the given kind, attached to the bound framebuffer.
GLuint attach_renderbuffer(GLenum format, GLenum attachment, int samples, int w, int h) {
  GLuint rb = 0;
  glGenRenderbuffers(1, &rb);
  glBindRenderbuffer(GL_RENDERBUFFER, rb);
  if (samples > 0)
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, w, h);
  else
    glRenderbufferStorage(GL_RENDERBUFFER, format, w, h);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, rb);
  return rb;
}

}  // namespace

GlContext::GlContext(std::unique_ptr<Handles> handles, int width, int height)
    : handles_(std::move(handles)), width_(width), height_(height) {}

GlContext::~GlContext() = default;

std::unique_ptr<GlContext> GlContext::create(int width, int height, int samples,
                                             std::string *error) {
  auto fail = [error](const std::string &why) {
    if (error) *error = why;
    return std::unique_ptr<GlContext>();
  };
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192)
    return fail("drawing window size out of range");
  auto h = std::make_unique<Handles>();
  h->display = open_display();
  if (h->display == EGL_NO_DISPLAY) return fail("no EGL display");
  EGLint major = 0, minor = 0;
  if (!eglInitialize(h->display, &major, &minor)) {
    h->display = EGL_NO_DISPLAY;
    return fail(egl_error_text("eglInitialize"));
  }
  if (!eglBindAPI(EGL_OPENGL_API)) return fail(egl_error_text("eglBindAPI(OpenGL)"));

  // Drawing goes to our own framebuffer object, so the configuration only has to allow desktop
  // GL. Without a surface type EGL would ask for window surfaces, which a headless display may
  // not offer; pbuffer-capable configurations are asked for first, then any.
  EGLConfig config = nullptr;
  EGLint count = 0;
  for (EGLint surface_type : {EGL_PBUFFER_BIT, 0}) {
    // clang-format off
    const EGLint config_attribs[] = {EGL_SURFACE_TYPE, surface_type,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                     EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                     EGL_NONE};
    // clang-format on
    if (eglChooseConfig(h->display, config_attribs, &config, 1, &count) && count > 0) break;
  }
  if (count < 1) return fail(egl_error_text("eglChooseConfig (desktop OpenGL)"));
  // The fixed-function pipeline (glLoadMatrixd and friends) needs the compatibility profile.
  const EGLint context_attribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                    EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  h->context = eglCreateContext(h->display, config, EGL_NO_CONTEXT, context_attribs);
  if (h->context == EGL_NO_CONTEXT) return fail(egl_error_text("eglCreateContext"));
  if (!eglMakeCurrent(h->display, EGL_NO_SURFACE, EGL_NO_SURFACE, h->context))
    return fail(egl_error_text("eglMakeCurrent (surfaceless)"));

  GLint max_samples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &max_samples);
  h->samples = samples > max_samples ? max_samples : (samples < 0 ? 0 : samples);

  glGenFramebuffers(1, &h->draw_fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, h->draw_fbo);
  h->renderbuffers[0] =
      attach_renderbuffer(GL_RGBA8, GL_COLOR_ATTACHMENT0, h->samples, width, height);
  h->renderbuffers[1] =
      attach_renderbuffer(GL_DEPTH_COMPONENT24, GL_DEPTH_ATTACHMENT, h->samples, width, height);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    return fail("offscreen framebuffer incomplete");
  if (h->samples > 0) {
    glGenFramebuffers(1, &h->resolve_fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, h->resolve_fbo);
    h->renderbuffers[2] = attach_renderbuffer(GL_RGBA8, GL_COLOR_ATTACHMENT0, 0, width, height);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
      return fail("resolve framebuffer incomplete");
  }
  if (glGetError() != GL_NO_ERROR) return fail("OpenGL error while creating the framebuffer");

  std::unique_ptr<GlContext> ctx(new GlContext(std::move(h), width, height));
  const auto *renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
  ctx->renderer_ = renderer ? renderer : "unknown renderer";
  return ctx;
}

void GlContext::begin_frame() {
  glBindFramebuffer(GL_FRAMEBUFFER, handles_->draw_fbo);
  glViewport(0, 0, width_, height_);
}

Image GlContext::read_pixels() {
  if (handles_->samples > 0) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, handles_->draw_fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, handles_->resolve_fbo);
    glBlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT,
                      GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, handles_->resolve_fbo);
  } else {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, handles_->draw_fbo);
  }
  Image img(width_, height_);
  std::vector<std::uint8_t> rgba(static_cast<size_t>(width_) * height_ * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
  // GL's rows start at the bottom; pictures start at the top.
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t *src = &rgba[static_cast<size_t>(height_ - 1 - y) * width_ * 4];
    std::uint8_t *dst = img.at(0, y);
    for (int x = 0; x < width_; ++x) {
      dst[3 * x] = src[4 * x];
      dst[3 * x + 1] = src[4 * x + 1];
      dst[3 * x + 2] = src[4 * x + 2];
    }
  }
  glBindFramebuffer(GL_FRAMEBUFFER, handles_->draw_fbo);
  return img;
}

}  // namespace vrdemo
