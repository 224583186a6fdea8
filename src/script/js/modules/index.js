// The entry of the modules' bundle (cmake/Scripts.cmake): sets
// globalThis.__qv_modules, name -> module export, before the bridge runs.
// Each module is evaluated when first read, so a context pays only for the
// ones its scripts use.
const loaders = {
  lodash: () => require('lodash'),
  lodash3: () => require('lodash3'),
  chai: () => require('chai'),
  'chai-postman': () => require('chai-postman'),
  'crypto-js': () => require('crypto-js'),
  moment: () => require('moment'),
  tv4: () => require('tv4'),
  ajv: () => require('ajv'),
  cheerio: () => require('cheerio'),
  xml2js: () => require('xml2js'),
  'csv-parse/lib/sync': () => require('csv-parse/lib/sync'),
  uuid: () => require('uuid'),
  // atob's browser file reads `window`; its node one uses Buffer, which is here.
  atob: () => require('atob/node-atob'),
  btoa: () => require('btoa'),
  buffer: () => require('buffer'),
  // The long texts of status codes (pm.response.details()).
  'http-reasons': () => require('http-reasons'),
};

const modules = {};
for (const name of Object.keys(loaders)) {
  Object.defineProperty(modules, name, {
    enumerable: true,
    configurable: true,
    get() {
      const value = loaders[name]();
      Object.defineProperty(modules, name, { value, enumerable: true });
      return value;
    },
  });
}
globalThis.__qv_modules = modules;

// Modules written for node reach Buffer as a global, as scripts may too.
globalThis.Buffer = require('buffer').Buffer;
