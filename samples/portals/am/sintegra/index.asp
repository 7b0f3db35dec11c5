<!DOCTYPE html>
<html lang="pt-BR">
<head>
<meta charset="utf-8">
<title>SINTEGRA - Amazonas</title>
<style>
body { font-family: Verdana, sans-serif; font-size: 13px; margin: 1.5em; }
td { padding: 2px 6px; }
.captcha { display: inline-block; padding: 4px 10px; margin-right: 6px; background: #dde; font: italic bold 18px monospace; letter-spacing: 4px; }
</style>
</head>
<body>
<p><a href="/">Secretaria da Fazenda</a> | <a href="/sintegra/ajuda.asp">Ajuda</a> | <a href="/sintegra/convenio.asp">Convênio SINTEGRA</a></p>
<h2>SINTEGRA - Consulta Pública ao Cadastro do Estado do Amazonas</h2>
<form id="consulta" method="get" action="/sintegra/sintegra.asp">
<!-- The server wants its form token first in the query. -->
<input type="hidden" name="hash" value="5e1d9a07c3">
<table>
<tr><td>Consultar por:</td><td><input type="radio" id="tipoCnpj" name="tipo" value="CNPJ"><label for="tipoCnpj">CNPJ</label>
<input type="radio" id="tipoIe" name="tipo" value="IE"><label for="tipoIe">Inscrição Estadual</label></td></tr>
<tr><td>Número:</td><td><input name="cgc" size="20" maxlength="18" value=""></td></tr>
<tr><td></td><td><span class="captcha" role="img" aria-label="captcha">7K3X</span>
  <label for="captcha">Digite os caracteres da imagem:</label> <input id="captcha" name="captcha" size="6" autocomplete="off" value=""></td></tr>
<tr><td></td><td><input type="submit" value="Consultar"></td></tr>
</table>
</form>
<p><small>Página de amostra do Quarvel: dados fictícios.</small></p>
</body>
</html>
