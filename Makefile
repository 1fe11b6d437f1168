# User entry points. `make build` installs only what building needs and builds quillfen, with
# zentorik when a CPython 3.12 is found; `make test` sets up everything it needs on a fresh
# Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
VENV       ?= .venv
JOBS       ?= $(shell nproc)
CTEST_ARGS ?=

# CPython 3.12 for zentorik: python3.12 on PATH, else pyenv's; the first that runs as CPython
# 3.12, by the path it reports, so that a pyenv shim is resolved once. PYTHON312= means none.
PYENV_ROOT ?= $(HOME)/.pyenv
ifeq ($(origin PYTHON312),undefined)
PYTHON312 := $(shell for p in $$(command -v python3.12) $(PYENV_ROOT)/versions/3.12*/bin/python3.12; do \
    "$$p" -c 'import sys; ok = sys.implementation.name == "cpython" and sys.version_info[:2] == (3, 12); ok and print(sys.executable); sys.exit(not ok)' 2>/dev/null && break; done)
endif
NO_PYTHON312 := no CPython 3.12 found (python3.12 on PATH, $(PYENV_ROOT)/versions/3.12*; or set PYTHON312)

BUILD_PACKAGES := $(shell grep -v '^\#' packages-build.txt)
TEST_PACKAGES  := $(shell grep -v '^\#' packages-test.txt)
SUDO           := $(if $(filter 0,$(shell id -u)),,sudo)

# Installs those of the Debian packages $(1) that are missing; silent when all are there.
install_missing = missing=$$(for p in $(1); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "installing:" $$missing; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

# One build directory: `make build` configures it without the tests, the targets that need them
# with them. Configuring on every run takes up a Python found or lost since; the objects already
# built are kept across the switch.
CONFIGURE = cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(PYTHON312)

.PHONY: all build-deps deps need-python312 venv configure build build-all test asan-test demo \
	bench format format-check clean

all: build

build-deps:
	@$(call install_missing,$(BUILD_PACKAGES))

# Everything: what building needs, then what the tests, demo, benchmarks and format-check need.
deps: build-deps
	@$(call install_missing,$(TEST_PACKAGES))

# The test suite includes the module's, so it cannot do without CPython 3.12.
need-python312:
	@test -n "$(PYTHON312)" || { echo "$(NO_PYTHON312): the tests need it for zentorik" >&2; exit 1; }

venv: $(VENV)/.stamp

$(VENV)/.stamp: requirements.txt | need-python312
	$(PYTHON312) -m venv $(VENV)
	$(VENV)/bin/pip install -q --disable-pip-version-check -r requirements.txt
	@touch $@

configure: build-deps
	$(CONFIGURE) -DBUILD_TESTING=OFF

build: configure
	cmake --build $(BUILD) -j $(JOBS)
	@$(if $(PYTHON312),,echo "$(NO_PYTHON312): built quillfen without zentorik")

# The service, the module, the tests and the benchmarks.
build-all: need-python312 deps venv
	$(CONFIGURE) -DBUILD_TESTING=ON
	cmake --build $(BUILD) -j $(JOBS)

test: build-all
	ctest --test-dir $(BUILD) --output-on-failure $(CTEST_ARGS)

asan-test: need-python312 deps venv
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLFEN_SANITIZE=ON \
	    -DBUILD_TESTING=ON -DPython_EXECUTABLE=$(PYTHON312)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure $(CTEST_ARGS)

demo: deps build
	./scripts/demo.sh $(BUILD)/src/quillfen

bench: build-all
	./scripts/bench.sh $(BUILD)

SOURCES = git ls-files '*.cpp' '*.hpp' '*.c' '*.h'

format:
	$(SOURCES) | xargs clang-format -i

# Fails, naming each place, when a file is not as clang-format would write it.
format-check: deps
	$(SOURCES) | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
