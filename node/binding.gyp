{
  "variables": {
    # A packed tarball carries the library's sources in core/ (see scripts/copy-core.js); in
    # the source tree they are the repository's own, one directory up.
    "core": "<!(node -p \"require('fs').existsSync(require('path').join(process.cwd(), 'core', 'src')) ? 'core' : '..'\")"
  },
  "targets": [
    {
      "target_name": "quorix_sql_parser",
      "sources": [
        "src/addon.cpp",
        "<(core)/src/common/numbers.cpp",
        "<(core)/src/lexer/lexer.cpp",
        "<(core)/src/ast/ast.cpp",
        "<(core)/src/parser/parser_core.cpp",
        "<(core)/src/parser/parser_expr.cpp",
        "<(core)/src/parser/parser_select.cpp",
        "<(core)/src/parser/parser_dml.cpp",
        "<(core)/src/parser/parser_ddl.cpp",
        "<(core)/src/parser/stack_budget.cpp",
        "<(core)/src/encoder/msgpack_writer.cpp",
        "<(core)/src/encoder/kept_block.cpp",
        "<(core)/src/encoder/encode_frame.cpp",
        "<(core)/src/encoder/encode_expr.cpp",
        "<(core)/src/encoder/encode_select.cpp",
        "<(core)/src/encoder/encode_dml.cpp",
        "<(core)/src/encoder/encode_ddl.cpp",
        "<(core)/src/tools/error_position.cpp",
        "<(core)/src/tools/fingerprint.cpp",
        "<(core)/src/tools/format.cpp",
        "<(core)/src/tools/normalize.cpp",
        "<(core)/src/tools/scan.cpp",
        "<(core)/src/api/boundary.cpp",
        "<(core)/src/api/quorix_sql_parser.cpp",
        "<(core)/src/api/quorix_sql_tools.cpp"
      ],
      "include_dirs": [
        "<!(node -p \"require('node-addon-api').include_dir\")",
        "<(core)/include",
        "<(core)/src"
      ],
      "defines": ["NAPI_VERSION=8", "NAPI_CPP_EXCEPTIONS"],
      # The core throws internally (the C functions catch everything), so exceptions stay on;
      # hidden visibility keeps the library's C symbols inside the addon.
      "cflags!": ["-fno-exceptions"],
      "cflags_cc!": ["-fno-exceptions", "-fno-rtti", "-std=gnu++17", "-std=c++17"],
      "cflags_cc": ["-std=c++20", "-fexceptions", "-fvisibility=hidden", "-O2"],
      "conditions": [
        ["OS=='linux'", {"ldflags": ["-Wl,--version-script=<(module_root_dir)/src/exports.map"]}]
      ],
      "xcode_settings": {
        "GCC_ENABLE_CPP_EXCEPTIONS": "YES",
        "CLANG_CXX_LANGUAGE_STANDARD": "c++20",
        "GCC_SYMBOLS_PRIVATE_EXTERN": "YES"
      }
    }
  ]
}
